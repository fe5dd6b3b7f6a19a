#include "gst/bayercam_src.h"

#include <gst/check/gstharness.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "gst_test_support.h"

namespace bayercam::gst::test {
namespace {

// A small region keeps the frames that wait in the harness small at full speed.
constexpr int32_t kRegion[] = {16, 8, 100, 48};
constexpr const char* kRegionText = "16,8,100,48";
constexpr int kWidth = 96;  // 100 rounded down to a multiple of 8
constexpr int kHeight = 48;

std::string Bytes(GstBuffer* buffer) {
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return {};
    std::string bytes(reinterpret_cast<const char*>(map.data), map.size);
    gst_buffer_unmap(buffer, &map);
    return bytes;
}

// A pulled buffer's bytes, or empty when none came.
std::string PullBytes(GstHarness* h) {
    GstBuffer* buffer = gst_harness_pull(h);
    if (!buffer) return {};
    std::string bytes = Bytes(buffer);
    gst_buffer_unref(buffer);
    return bytes;
}

int CapsInt(GstCaps* caps, const char* field) {
    int value = -1;
    if (caps) gst_structure_get_int(gst_caps_get_structure(caps, 0), field, &value);
    return value;
}

class BayercamSrcTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InitGst();
        h_ = gst_harness_new_with_padnames("bayercamsrc", nullptr, "src");
        gst_harness_use_systemclock(h_);
        scene_ = PatternScene(scenes_);
        Set("camera", scene_.c_str());
        Set("settings-dir", settings_.Path().c_str());
        Set("region-of-interest", kRegionText);
    }
    void TearDown() override { gst_harness_teardown(h_); }

    template <typename T>
    void Set(const char* property, T value) {
        g_object_set(h_->element, property, value, nullptr);
    }
    GstStateChangeReturn ChangeState(GstState state) {
        gst_element_set_state(h_->element, state);
        return gst_element_get_state(h_->element, nullptr, nullptr, 10 * GST_SECOND);
    }
    // The error the element posted, waiting at most `wait` for it; empty when none.
    std::string PostedError(GstClockTime wait = 0) {
        GstMessage* message = gst_bus_timed_pop_filtered(bus_, wait, GST_MESSAGE_ERROR);
        if (!message) return {};
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        std::string text = error->message;
        g_error_free(error);
        gst_message_unref(message);
        while (GstMessage* more = gst_bus_pop(bus_)) gst_message_unref(more);
        return text;
    }
    void DropQueuedBuffers() {
        while (GstBuffer* stale = gst_harness_try_pull(h_)) gst_buffer_unref(stale);
    }
    void WatchBus() {
        bus_ = gst_bus_new();
        gst_element_set_bus(h_->element, bus_);
        gst_object_unref(bus_);
    }

    ScratchDir scenes_, settings_;
    std::string scene_;
    GstHarness* h_ = nullptr;
    GstBus* bus_ = nullptr;
};

TEST_F(BayercamSrcTest, DeliversTheLibrarysFramesThenEndsTheStream) {
    Set("num-buffers", 3);
    gst_harness_play(h_);
    std::vector<std::string> expected = LibraryFrames(scene_, 3, kRegion);
    ASSERT_EQ(expected.size(), 3u);
    guint64 previous = 0;
    for (int i = 0; i < 3; ++i) {
        GstBuffer* buffer = gst_harness_pull(h_);
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(Bytes(buffer), expected[i]) << "frame " << i;
        // A loaded machine may drop frames at the stream: a gap is marked, nothing else is.
        bool gap = i == 0 || GST_BUFFER_OFFSET(buffer) != previous + 1;
        EXPECT_EQ(GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT), gap) << i;
        EXPECT_EQ(GST_BUFFER_OFFSET_END(buffer), GST_BUFFER_OFFSET(buffer) + 1);
        if (i > 0) {
            EXPECT_GT(GST_BUFFER_OFFSET(buffer), previous);
        }
        previous = GST_BUFFER_OFFSET(buffer);
        gst_buffer_unref(buffer);
    }
    GstCaps* caps = gst_pad_get_current_caps(h_->sinkpad);
    EXPECT_EQ(CapsInt(caps, "width"), kWidth);
    EXPECT_EQ(CapsInt(caps, "height"), kHeight);
    gst_caps_unref(caps);

    bool ended = false;
    while (GstEvent* event = gst_harness_pull_event(h_)) {
        ended = GST_EVENT_TYPE(event) == GST_EVENT_EOS;
        gst_event_unref(event);
        if (ended) break;
    }
    EXPECT_TRUE(ended);
}

TEST_F(BayercamSrcTest, StampsAtTheAnnouncedRate) {
    Set("camera", "sim:fps=30");
    gst_harness_play(h_);
    GstCaps* caps = gst_pad_get_current_caps(h_->sinkpad);
    GstClockTime previous = 0;
    for (int i = 0; i < 4; ++i) {
        GstBuffer* buffer = gst_harness_pull(h_);
        ASSERT_NE(buffer, nullptr);
        if (!caps) caps = gst_pad_get_current_caps(h_->sinkpad);
        EXPECT_EQ(GST_BUFFER_DURATION(buffer), GST_SECOND / 30);
        ASSERT_TRUE(GST_BUFFER_PTS_IS_VALID(buffer));
        // The stream's clock spaces them (by how much depends on the machine's load).
        if (i > 0) {
            EXPECT_GT(GST_BUFFER_PTS(buffer), previous) << i;
        }
        previous = GST_BUFFER_PTS(buffer);
        gst_buffer_unref(buffer);
    }
    gint numerator = 0, denominator = 0;
    ASSERT_NE(caps, nullptr);
    gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &numerator,
                               &denominator);
    EXPECT_EQ(numerator, 30);
    EXPECT_EQ(denominator, 1);
    gst_caps_unref(caps);
}

// A consumer that falls behind makes the stream drop frames: each gap is marked and counted.
TEST_F(BayercamSrcTest, DroppedCountsTheGaps) {
    constexpr int kBuffers = 12;
    Set("camera", "sim:fps=30");
    Set("num-buffers", kBuffers);
    gst_harness_set_blocking_push_mode(h_);
    gst_harness_play(h_);
    guint64 previous = 0, gaps = 0;
    for (int i = 0; i < kBuffers; ++i) {
        // Long enough for the camera to fill every frame the stream holds, twice over.
        if (i >= 2 && i < 6) g_usleep(250 * 1000);
        GstBuffer* buffer = gst_harness_pull(h_);
        ASSERT_NE(buffer, nullptr) << i;
        if (i > 0) {
            EXPECT_EQ(GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT),
                      GST_BUFFER_OFFSET(buffer) != previous + 1)
                << i;
            gaps += GST_BUFFER_OFFSET(buffer) - previous - 1;
        }
        previous = GST_BUFFER_OFFSET(buffer);
        gst_buffer_unref(buffer);
    }
    guint64 dropped = 0;
    g_object_get(h_->element, "dropped", &dropped, nullptr);
    EXPECT_EQ(dropped, gaps);
    if (gaps == 0) GTEST_SKIP() << "the camera was too slow on this machine to fall behind";
}

// Four BGRx bytes per pixel, rows of kWidth.
bool IsMirrorOf(const std::string& image, const std::string& of) {
    if (image.size() != of.size() || image.empty()) return false;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (image.compare((y * kWidth + x) * 4, 4, of, (y * kWidth + kWidth - 1 - x) * 4, 4))
                return false;
    return true;
}

bool IsGrey(const std::string& image, const std::string&) {
    for (size_t i = 0; i + 3 < image.size(); i += 4)
        if (image[i] != image[i + 1] || image[i + 1] != image[i + 2]) return false;
    return !image.empty();
}

bool Differs(const std::string& image, const std::string& before) {
    return !image.empty() && image != before;
}

TEST_F(BayercamSrcTest, PropertyChangesWhilePlayingReachTheNextFrames) {
    struct Case {
        const char* property;
        gboolean on;
        int hue;
        std::function<bool(const std::string&, const std::string&)> shows;
    };
    const Case cases[] = {
        // In this order: each setting stays for the cases after it.
        {"hue", FALSE, 180, Differs},
        {"flip-h", TRUE, 0, IsMirrorOf},
        {"color-enable", FALSE, 0, IsGrey},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.property);
        gst_harness_play(h_);
        std::string before = PullBytes(h_);
        ASSERT_FALSE(before.empty());
        ASSERT_FALSE(c.shows(before, before));
        if (c.hue)
            Set(c.property, c.hue);
        else
            Set(c.property, c.on);
        // Frames already on their way show the old setting; one of the next ten must not.
        bool shown = false;
        for (int i = 0; i < 10 && !shown; ++i) shown = c.shows(PullBytes(h_), before);
        EXPECT_TRUE(shown);
        EXPECT_TRUE(c.shows(PullBytes(h_), before)) << "and stays";
        ASSERT_EQ(ChangeState(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
        // The camera saved it, and the element reports it.
        gint value = -1;
        g_object_get(h_->element, c.property, &value, nullptr);
        EXPECT_EQ(value, c.hue ? c.hue : c.on);
        DropQueuedBuffers();
    }
}

TEST_F(BayercamSrcTest, StateChangesInAnyOrder) {
    const std::vector<std::vector<GstState>> walks = {
        {GST_STATE_PLAYING, GST_STATE_NULL, GST_STATE_PLAYING, GST_STATE_NULL},
        {GST_STATE_PLAYING, GST_STATE_PAUSED, GST_STATE_PLAYING, GST_STATE_READY, GST_STATE_PLAYING,
         GST_STATE_PAUSED, GST_STATE_NULL},
        {GST_STATE_READY, GST_STATE_NULL, GST_STATE_PAUSED, GST_STATE_PLAYING, GST_STATE_READY,
         GST_STATE_PAUSED, GST_STATE_NULL},
        {GST_STATE_PAUSED, GST_STATE_READY, GST_STATE_PLAYING, GST_STATE_PAUSED, GST_STATE_READY,
         GST_STATE_NULL},
    };
    for (const auto& walk : walks) {
        for (GstState state : walk) {
            SCOPED_TRACE(gst_element_state_get_name(state));
            if (state == GST_STATE_PLAYING) DropQueuedBuffers();
            GstStateChangeReturn result = ChangeState(state);
            // A live source has nothing to preroll in PAUSED.
            EXPECT_EQ(result, state == GST_STATE_PAUSED ? GST_STATE_CHANGE_NO_PREROLL
                                                        : GST_STATE_CHANGE_SUCCESS);
            if (state != GST_STATE_PLAYING) continue;
            // Frames flow again (a live source sends none outside PLAYING).
            GstBuffer* buffer = gst_harness_pull(h_);
            ASSERT_NE(buffer, nullptr);
            gst_buffer_unref(buffer);
        }
    }
}

TEST_F(BayercamSrcTest, RegionChangedInReadyRenegotiates) {
    gst_harness_play(h_);
    ASSERT_EQ(PullBytes(h_).size(), size_t(kWidth) * kHeight * 4);
    ASSERT_EQ(ChangeState(GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    DropQueuedBuffers();
    Set("region-of-interest", "0,0,64,32");
    ASSERT_EQ(ChangeState(GST_STATE_PLAYING), GST_STATE_CHANGE_SUCCESS);
    EXPECT_EQ(PullBytes(h_).size(), 64u * 32 * 4);
    GstCaps* caps = gst_pad_get_current_caps(h_->sinkpad);
    EXPECT_EQ(CapsInt(caps, "width"), 64);
    EXPECT_EQ(CapsInt(caps, "height"), 32);
    gst_caps_unref(caps);
}

TEST_F(BayercamSrcTest, RefusalsNameTheCamera) {
    struct Case {
        const char* camera;
        const char* region;
        const char* message;
    };
    const Case cases[] = {
        {"usb:dead:beef", "", "usb:dead:beef"},
        {"sim:scene=file:/nonexistent.pgm", "", "sim:scene=file:/nonexistent.pgm"},
        {"sim", "0,0,64", "region-of-interest \"0,0,64\""},
    };
    WatchBus();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.camera);
        Set("camera", c.camera);
        Set("region-of-interest", c.region);
        EXPECT_EQ(ChangeState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
        EXPECT_NE(PostedError().find(c.message), std::string::npos);
        ASSERT_EQ(ChangeState(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    }
}

// Unplugged while playing, the camera is named in an error and the pipeline stops; again after a
// restart, so that nothing of the first camera is left behind.
TEST_F(BayercamSrcTest, UnplugWhilePlayingPostsAnErrorNamingTheCamera) {
    WatchBus();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(ChangeState(GST_STATE_PLAYING), GST_STATE_CHANGE_SUCCESS);
        ASSERT_FALSE(PullBytes(h_).empty());
        ASSERT_TRUE(UnplugSimulatedCamera(BAYERCAM_SRC(h_->element)));
        EXPECT_EQ(PostedError(60 * GST_SECOND), "Camera " + scene_ + " was unplugged.");
        ASSERT_EQ(ChangeState(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
        EXPECT_FALSE(UnplugSimulatedCamera(BAYERCAM_SRC(h_->element)));
        DropQueuedBuffers();
        // The stopped streaming thread's own report of the failure follows ours.
        while (GstMessage* more = gst_bus_pop(bus_)) gst_message_unref(more);
    }
}

}  // namespace
}  // namespace bayercam::gst::test
