#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "api/library/library_fixture.h"
#include "api/library/selector.h"
#include "bayercam/bayercam.h"

namespace bayercam::test {
namespace {

constexpr uint32_t kGuardMs = 20000;

using library::CameraChoice;

TEST(CameraSelector, ParsesEveryForm) {
    struct Case {
        const char* selector;
        CameraChoice::Kind kind;
        const char* scene;
        double fps;
        int32_t clock;  // -1: not given
        const char* usbDevice;
        const char* usbPath;
    } cases[] = {
        {nullptr, CameraChoice::Kind::FirstAttached, "chart", 30, -1, "", ""},
        {"", CameraChoice::Kind::FirstAttached, "chart", 30, -1, "", ""},
        {"sim", CameraChoice::Kind::Simulated, "chart", 30, -1, "", ""},
        {"sim:fps=0,clock=3", CameraChoice::Kind::Simulated, "chart", 0, 3, "", ""},
        {"sim:scene=file:/a,b.pgm,fps=12.5", CameraChoice::Kind::Simulated, "file:/a,b.pgm", 12.5,
         -1, "", ""},
        {"usb:1209:0001", CameraChoice::Kind::Usb, "chart", 30, -1, "1209:0001", ""},
        {"usb:1209:0001:SN7", CameraChoice::Kind::Usb, "chart", 30, -1, "1209:0001:SN7", ""},
        {"usb-path:1-3.1", CameraChoice::Kind::Usb, "chart", 30, -1, "", "1-3.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selector ? c.selector : "(null)");
        CameraChoice choice;
        std::string error;
        ASSERT_TRUE(library::ParseCameraSelector(c.selector, &choice, &error)) << error;
        EXPECT_EQ(choice.kind, c.kind);
        EXPECT_EQ(choice.simScene, c.scene);
        EXPECT_EQ(choice.simFps, c.fps);
        EXPECT_EQ(choice.simClock.value_or(-1), c.clock);
        EXPECT_EQ(choice.usbDevice, c.usbDevice);
        EXPECT_EQ(choice.usbPath, c.usbPath);
    }
}

TEST(CameraSelector, RefusesMalformedOnes) {
    for (const char* selector :
         {"sim:", "sim:fps=-1", "sim:fps=fast", "sim:clock=256", "sim:clock=1.5", "sim:colour=red",
          "sim:scene=", "simulated", "usb:", "usb-path:", "camera"}) {
        SCOPED_TRACE(selector);
        CameraChoice choice;
        std::string error;
        EXPECT_FALSE(library::ParseCameraSelector(selector, &choice, &error));
        EXPECT_FALSE(error.empty());
    }
}

class CApi : public LibraryTest {
  protected:
    ~CApi() override { bayercam_close(cam_); }
    void Open(const char* selector = "sim:fps=0") {
        ASSERT_EQ(bayercam_open(selector, Settings(), &cam_), 0) << bayercam_last_error(nullptr);
    }
    bayercam_camera* cam_ = nullptr;
};

TEST_F(CApi, OpenFailuresSayWhy) {
    struct Case {
        const char* selector;
        int code;
    } cases[] = {
        {"camera", -EINVAL},
        {"sim:fps=-1", -EINVAL},
        {"sim:scene=file:/nonexistent/scene.pgm", -EINVAL},
        {"usb:xyz:1", -EINVAL},
        {"usb-path:1-x", -EINVAL},
        // No such camera is attached (or USB cannot be reached at all).
        {"usb:1209:0001:NO-SUCH-SERIAL", -ENODEV},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selector);
        bayercam_camera* cam = reinterpret_cast<bayercam_camera*>(1);
        EXPECT_EQ(bayercam_open(c.selector, Settings(), &cam), c.code);
        EXPECT_EQ(cam, nullptr);
        EXPECT_STRNE(bayercam_last_error(nullptr), "");
    }
}

TEST_F(CApi, ControlsBehaveLikeTheirPropertyRequests) {
    Open();
    struct Case {
        const char* name;
        int32_t set;
        int setCode;
        int32_t read;
    } cases[] = {
        {"Exposure", 400, 0, 400},
        {"exposure", 5000, 0, 1074},  // any case; clamped to the maximum
        {"GlobalGain", 5000, 0, 1023},
        {"Hue", 20, 0, 20},
        {"FlipH", 1, 0, 1},
        {"SensorWidth", 5, -EACCES, 1360},
        {"ExposureMin", 5, -EINVAL, 0},       // a range report, not a control
        {"RegionOfInterest", 5, -EINVAL, 0},  // bayercam_set_region
        {"NoSuchControl", 5, -EINVAL, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(bayercam_set_control(cam_, c.name, c.set), c.setCode);
        if (c.setCode != 0) {
            EXPECT_STRNE(bayercam_last_error(cam_), "");
        }
        int32_t value = -1;
        if (c.setCode == -EINVAL) {
            EXPECT_EQ(bayercam_get_control(cam_, c.name, &value), -EINVAL);
            continue;
        }
        EXPECT_EQ(bayercam_get_control(cam_, c.name, &value), 0);
        EXPECT_EQ(value, c.read);
    }
}

TEST_F(CApi, RangesAndDescriptions) {
    Open();
    struct Case {
        const char* name;
        int code;
        int32_t minimum, maximum, byDefault;
    } cases[] = {
        {"Exposure", 0, 8, 1074, 8},
        {"GlobalGain", 0, 0, 1023, 512},  // the default the set has always reported
        {"BlueGain", 0, 1, 512, 128},
        // Bounded by the driver, though the set reports no range: what a saved time-out may be,
        // the clock selections, the registers the shadow can select.
        {"Timeout", 0, 501, 9999, 3000},
        {"Clock", 0, 0, 5, 0},
        {"RegisterShadow", 0, 0, 1023, 0},
        {"FlipH", -ENOTSUP, 0, 0, 0},
        {"SensorWidth", -ENOTSUP, 0, 0, 0},
        {"ExposureMax", -EINVAL, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int32_t minimum = 0, maximum = 0, byDefault = 0;
        ASSERT_EQ(bayercam_control_range(cam_, c.name, &minimum, &maximum, &byDefault), c.code);
        EXPECT_EQ(minimum, c.minimum);
        EXPECT_EQ(maximum, c.maximum);
        EXPECT_EQ(byDefault, c.byDefault);
    }

    uint32_t count = 0;
    bool sawExposure = false;
    bayercam_control_info info;
    while (bayercam_describe_control(cam_, count, &info) == 0) {
        ++count;
        EXPECT_EQ(std::string(info.name).rfind("Reserved", 0), std::string::npos);
        if (std::string(info.name) != "Exposure") continue;
        sawExposure = true;
        EXPECT_EQ(info.flags,
                  BAYERCAM_CONTROL_READ | BAYERCAM_CONTROL_WRITE | BAYERCAM_CONTROL_RANGE);
        EXPECT_EQ(info.max, 1074);
    }
    EXPECT_TRUE(sawExposure);
    EXPECT_EQ(bayercam_describe_control(cam_, count, &info), -ENOENT);
}

TEST_F(CApi, SettingsPersistInTheCameraFolder) {
    Open();
    ASSERT_EQ(bayercam_set_control(cam_, "Hue", 33), 0);
    bayercam_close(cam_);
    cam_ = nullptr;
    EXPECT_TRUE(std::filesystem::exists(settings_ + "/sim/Settings/values"));
    Open();
    int32_t hue = 0;
    ASSERT_EQ(bayercam_get_control(cam_, "Hue", &hue), 0);
    EXPECT_EQ(hue, 33);
}

TEST_F(CApi, CallsOutOfStateAnswerFixedErrors) {
    Open();
    bayercam_frame* frame = nullptr;
    EXPECT_EQ(bayercam_next_frame(cam_, 10, &frame), -EACCES);
    EXPECT_EQ(bayercam_stop(cam_), 0);
    ASSERT_EQ(bayercam_set_region(cam_, 0, 0, 640, 480), 0);
    ASSERT_EQ(bayercam_start(cam_), 0) << bayercam_last_error(cam_);
    EXPECT_EQ(bayercam_start(cam_), -EBUSY);
    EXPECT_EQ(bayercam_set_region(cam_, 0, 0, 320, 240), -EBUSY);
    ASSERT_EQ(bayercam_next_frame(cam_, kGuardMs, &frame), 0) << bayercam_last_error(cam_);
    EXPECT_EQ(frame->width, 640u);
    EXPECT_EQ(frame->height, 480u);
    EXPECT_EQ(frame->stride, 640 * 4);
    EXPECT_EQ(frame->fourcc, BAYERCAM_FOURCC_BGRA);
    bayercam_frame other = *frame;
    EXPECT_EQ(bayercam_release_frame(cam_, &other), -EINVAL);
    EXPECT_EQ(bayercam_release_frame(cam_, frame), 0);
    EXPECT_EQ(bayercam_release_frame(cam_, frame), -EINVAL);
    EXPECT_EQ(bayercam_stop(cam_), 0);
    EXPECT_EQ(bayercam_set_region(cam_, 0, 0, 320, 240), 0);
}

TEST_F(CApi, SequenceNumbersCountDroppedFrames) {
    Open();
    ASSERT_EQ(bayercam_start(cam_), 0);
    uint64_t previous = 0;
    for (int i = 0; i < 8; ++i) {
        bayercam_frame* frame = nullptr;
        ASSERT_EQ(bayercam_next_frame(cam_, kGuardMs, &frame), 0) << bayercam_last_error(cam_);
        EXPECT_EQ(frame->sequence, previous + 1 + frame->dropped);
        EXPECT_GE(frame->sequence, 1u);
        previous = frame->sequence;
        bayercam_release_frame(cam_, frame);
    }
}

TEST_F(CApi, NullArgumentsAreRefused) {
    EXPECT_EQ(bayercam_open("sim", Settings(), nullptr), -EINVAL);
    EXPECT_EQ(bayercam_start(nullptr), -EINVAL);
    EXPECT_EQ(bayercam_get_control(nullptr, "Exposure", nullptr), -EINVAL);
    bayercam_close(nullptr);
    bayercam_free_list(nullptr, 0);
}

}  // namespace
}  // namespace bayercam::test
