#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "bayercam/client.h"
#include "bayercam/video_stream.h"
#include "core/camera_device.h"
#include "props/control_property_set.h"
#include "simcam/image_stream.h"
#include "simcam/scene.h"
#include "stream/capture_descriptors.h"
#include "support/settings_camera.h"

namespace bayercam {
namespace {

constexpr uint32_t kWaitMs = 10000;  // a bound against a hang, not a measurement

class StreamingPropertiesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        camera_ = std::make_unique<testing::SettingsCamera>(root_);
        std::string error;
        images_ = std::make_unique<sim::SimImageStream>(camera_->sim().camera,
                                                        sim::MakeScene("chart", 1, &error), 0);
        camera_->StartWith("");
        ASSERT_TRUE(
            filter_
                .Open(*camera_->sim().ksDevice, camera_->sim().device()->captureDescriptors->filter)
                .ok());
        ASSERT_TRUE(stream_.Open(filter_).ok());
        ASSERT_TRUE(stream_.Start().ok());
    }
    void TearDown() override {
        stream_.Close();
        filter_.Close();
        camera_->sim().Remove();
        images_.reset();
        camera_.reset();
    }

    NTSTATUS Set(uint32_t id, int32_t value) {
        ControlRequest request{};
        request.value = value;
        return filter_.SetProperty(ControlPropertySetId, id, &request).code;
    }

    // Mean of the blue, green and red bytes of the next frame.
    double NextFrameMean() {
        client::Frame* frame = nullptr;
        EXPECT_TRUE(stream_.Next(kWaitMs, &frame).ok());
        if (!frame) return -1;
        uint64_t sum = 0;
        uint32_t used = frame->Header().DataUsed;
        for (uint32_t i = 0; i < used; i += 4)
            sum += frame->Data()[i] + frame->Data()[i + 1] + frame->Data()[i + 2];
        stream_.Requeue(frame);
        return used ? static_cast<double>(sum) / (used / 4 * 3) : -1;
    }

    // Frames already converted when a setting changes still show the old one; within a few
    // frames the new one must show.
    bool SomeOfTheNextFrames(bool (*wanted)(double mean, double before), double before) {
        for (int i = 0; i < 8; ++i)
            if (wanted(NextFrameMean(), before)) return true;
        return false;
    }

    test_support::TestSettingsRoot root_;
    std::unique_ptr<testing::SettingsCamera> camera_;
    std::unique_ptr<sim::SimImageStream> images_;
    client::Filter filter_;
    client::VideoStream stream_;
};

TEST_F(StreamingPropertiesTest, ASettingChangedWhileStreamingShowsInTheNextFrames) {
    double neutral = NextFrameMean();
    ASSERT_GT(neutral, 0);
    ASSERT_EQ(Set(20, 510), STATUS_SUCCESS);
    EXPECT_TRUE(SomeOfTheNextFrames([](double mean, double before) { return mean > before + 50; },
                                    neutral));
    double bright = NextFrameMean();
    ASSERT_EQ(Set(20, 0), STATUS_SUCCESS);
    EXPECT_TRUE(SomeOfTheNextFrames([](double mean, double before) { return mean < before - 100; },
                                    bright));

    // The region of interest is the pin's while it is open.
    RoiRequest roi{};
    roi.width = 100;
    roi.height = 100;
    EXPECT_TRUE(filter_.SetProperty(ControlPropertySetId, 44, &roi).ok());
    EXPECT_EQ(camera_->device()->roiW, 1360);
}

TEST_F(StreamingPropertiesTest, PropertiesChangeSafelyWhileFramesFlow) {
    std::atomic<bool> done{false};
    std::thread settings([&] {
        constexpr uint32_t kIds[] = {12, 13, 14, 15, 16, 20, 24, 28, 32, 48, 10, 11};
        for (int round = 0; !done.load(); ++round) {
            for (uint32_t id : kIds) {
                ControlRequest request{};
                request.value = round % 3 == 0 ? 0 : 7;
                filter_.SetProperty(ControlPropertySetId, id, &request);
                filter_.GetProperty(ControlPropertySetId, id, &request);
            }
        }
    });
    // Each stop frees the stream's processor and each start makes a new one while the
    // requests go on.
    for (int cycle = 0; cycle < 3; ++cycle) {
        for (int i = 0; i < 5; ++i) EXPECT_GE(NextFrameMean(), 0);
        EXPECT_TRUE(stream_.Stop().ok());
        EXPECT_TRUE(stream_.Start().ok());
    }
    EXPECT_GE(NextFrameMean(), 0);
    done = true;
    settings.join();
}

}  // namespace
}  // namespace bayercam
