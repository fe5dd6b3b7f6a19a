#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "api/library/application_camera.h"
#include "api/library/auto_exposure.h"
#include "api/library/auto_white_balance.h"
#include "api/library/library_fixture.h"

namespace bayercam::test {
namespace {

using library::AutoExposure;

constexpr uint32_t kGuardMs = 20000;
constexpr int kFramesWatched = 20;

// The loop steers the simulated chart to mid-grey within 10 frames from any start, each step
// in one direction: the light it lets in only grows from a dark start and only shrinks from a
// bright one. A camera as fast as it can go keeps the conversion behind it, so that frames read
// before a change arrive numbered after it, and keeps every client frame filled: the frames
// queued before a change arrive after it and take longer to pass.
TEST_F(LibraryTest, AutoExposureSettlesOnTheChartWithoutSwinging) {
    struct Case {
        const char* name;
        const char* selector;
        int32_t exposure, gain;  // -1: the camera's default
        int convergedBy;         // frames delivered
    } cases[] = {
        {"defaults", "sim", -1, -1, 10},
        {"over-exposed", "sim", 1074, 1023, 10},
        {"defaults, conversion behind", "sim:fps=0", -1, -1, 18},
        {"over-exposed, conversion behind", "sim:fps=0", 1074, 1023, 18},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<library::ApplicationCamera> camera;
        std::string error;
        ASSERT_EQ(library::ApplicationCamera::Open(c.selector, Settings(), &camera, &error), 0)
            << error;
        if (c.exposure >= 0) {
            ASSERT_EQ(camera->SetControl("Exposure", c.exposure), 0);
            ASSERT_EQ(camera->SetControl("GlobalGain", c.gain), 0);
        }
        ASSERT_EQ(camera->SetAutoExposure(true), 0);
        ASSERT_EQ(camera->Start(), 0) << camera->LastError();

        std::vector<double> means, light;
        for (int i = 0; i < kFramesWatched; ++i) {
            bayercam_frame* frame = nullptr;
            ASSERT_EQ(camera->NextFrame(kGuardMs, &frame), 0) << camera->LastError();
            means.push_back(library::MeanLuminance(*frame));
            ASSERT_EQ(camera->ReleaseFrame(frame), 0);
            int32_t exposure = 0, gain = 0;
            ASSERT_EQ(camera->GetControl("Exposure", &exposure), 0);
            ASSERT_EQ(camera->GetControl("GlobalGain", &gain), 0);
            light.push_back(exposure * (1 + gain / 64.0));
        }
        const bool brightening = c.exposure < 0;
        for (int i = 1; i < kFramesWatched; ++i) {
            if (brightening) {
                EXPECT_GE(light[i], light[i - 1]) << "frame " << i;
            } else {
                EXPECT_LE(light[i], light[i - 1]) << "frame " << i;
            }
        }
        for (int i = c.convergedBy - 1; i < kFramesWatched; ++i) {
            EXPECT_NEAR(means[i], AutoExposure::kTarget,
                        AutoExposure::kTarget * AutoExposure::kTolerance * 1.5)
                << "frame " << i + 1;
        }
        EXPECT_NE(std::abs(means.front() - AutoExposure::kTarget),
                  std::abs(means.back() - AutoExposure::kTarget));
    }
}

// A frame whose first `greyShare` of rows are a grey of the given BGR, the rest a saturated
// colour and a clipped white: the greys decide the cast whatever the rest.
std::vector<uint8_t> CastFrame(uint8_t blue, uint8_t green, uint8_t red, double greyShare,
                               bayercam_frame* frame) {
    constexpr uint32_t kWidth = 320, kHeight = 240;
    std::vector<uint8_t> pixels(kWidth * kHeight * 4);
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            uint8_t* p = &pixels[(y * kWidth + x) * 4];
            const bool grey = y < greyShare * kHeight;
            const bool white = !grey && x < kWidth / 4;
            p[0] = grey ? blue : white ? 255 : 40;
            p[1] = grey ? green : white ? 255 : 90;
            p[2] = grey ? red : white ? 255 : 200;
            p[3] = 255;
        }
    }
    *frame = {};
    frame->data = pixels.data();
    frame->width = kWidth;
    frame->height = kHeight;
    frame->stride = kWidth * 4;
    return pixels;
}

TEST(GreyCast, FindsTheGreysAmongColours) {
    struct Case {
        const char* name;
        uint8_t blue, green, red;
        double greyShare;
        bool found;
    } cases[] = {
        {"neutral", 120, 120, 120, 0.6, true},
        {"short of red", 110, 140, 80, 0.6, true},
        {"greys under half the frame", 150, 100, 100, 0.45, true},
        {"greys clipped", 255, 255, 255, 0.6, true},  // the colour is all that is left
        {"nothing but dark", 5, 5, 5, 1.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bayercam_frame frame;
        std::vector<uint8_t> pixels = CastFrame(c.blue, c.green, c.red, c.greyShare, &frame);
        double red = 0, blue = 0;
        ASSERT_EQ(library::GreyCast(frame, &red, &blue), c.found);
        if (!c.found || c.blue == 255) continue;
        EXPECT_NEAR(red, std::log(double(c.red) / c.green), 0.01);
        EXPECT_NEAR(blue, std::log(double(c.blue) / c.green), 0.01);
    }
}

// With the device's grey-world balance the chart's warm patches leave its greys short of red;
// the balance above the driver brings every unclipped grey patch to neutral.
TEST_F(LibraryTest, AutoWhiteBalanceMakesTheChartsGreysNeutral) {
    std::unique_ptr<library::ApplicationCamera> camera;
    std::string error;
    ASSERT_EQ(library::ApplicationCamera::Open("sim", Settings(), &camera, &error), 0) << error;
    ASSERT_EQ(camera->SetControl("WhiteBalance", 1), 0);
    ASSERT_EQ(camera->SetAutoExposure(true), 0);
    ASSERT_EQ(camera->SetAutoWhiteBalance(true), 0);
    ASSERT_EQ(camera->Start(), 0) << camera->LastError();
    constexpr int kSettleFrames = 30;
    bayercam_frame* frame = nullptr;
    for (int i = 0; i < kSettleFrames; ++i) {
        ASSERT_EQ(camera->NextFrame(kGuardMs, &frame), 0) << camera->LastError();
        if (i + 1 < kSettleFrames) {
            ASSERT_EQ(camera->ReleaseFrame(frame), 0);
        }
    }
    int32_t deviceBalance = -1;
    ASSERT_EQ(camera->GetControl("WhiteBalance", &deviceBalance), 0);
    EXPECT_EQ(deviceBalance, 0);
    // The chart's bottom row of patches: white, then greys from light to dark, 200 pixels wide
    // and 20 apart from x = 30, y = 700 (top-down). The two lightest clip at mid-grey exposure;
    // the two darkest are a few dozen levels before the sensor's gain, whose rounding alone
    // moves their ratios by several percent.
    constexpr uint32_t kPatchLeft = 30, kPatchTop = 700, kPitch = 220, kInset = 50, kSide = 100;
    const struct {
        uint32_t patch;
        double tolerance;
    } patches[] = {{2, 0.04}, {3, 0.04}, {4, 0.15}, {5, 0.15}};
    for (const auto& p : patches) {
        SCOPED_TRACE("grey patch " + std::to_string(p.patch));
        const uint32_t left = kPatchLeft + p.patch * kPitch + kInset;
        double sum[3] = {0, 0, 0};
        for (uint32_t y = kPatchTop + kInset; y < kPatchTop + kInset + kSide; ++y) {
            const uint8_t* row = frame->data + size_t(y) * size_t(frame->stride);
            for (uint32_t x = left; x < left + kSide; ++x) {
                for (int c = 0; c < 3; ++c) sum[c] += row[x * 4 + c];
            }
        }
        EXPECT_NEAR(sum[2] / sum[1], 1.0, p.tolerance) << "red to green";
        EXPECT_NEAR(sum[0] / sum[1], 1.0, p.tolerance) << "blue to green";
    }
    ASSERT_EQ(camera->ReleaseFrame(frame), 0);
}

}  // namespace
}  // namespace bayercam::test
