#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "api/library/application_camera.h"
#include "api/library/auto_exposure.h"
#include "api/library/library_fixture.h"

namespace bayercam::test {
namespace {

using library::AutoExposure;

constexpr uint32_t kGuardMs = 20000;
constexpr int kConvergedBy = 10;
constexpr int kFramesWatched = 20;

// The loop steers the simulated chart to mid-grey within 10 frames from any start, each step
// in one direction: the light it lets in only grows from a dark start and only shrinks from a
// bright one.
TEST_F(LibraryTest, AutoExposureSettlesOnTheChartWithoutSwinging) {
    struct Case {
        const char* name;
        int32_t exposure, gain;  // -1: the camera's default
    } cases[] = {
        {"defaults", -1, -1},
        {"over-exposed", 1074, 1023},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<library::ApplicationCamera> camera;
        std::string error;
        ASSERT_EQ(library::ApplicationCamera::Open("sim", Settings(), &camera, &error), 0) << error;
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
        for (int i = kConvergedBy - 1; i < kFramesWatched; ++i) {
            EXPECT_NEAR(means[i], AutoExposure::kTarget,
                        AutoExposure::kTarget * AutoExposure::kTolerance * 1.5)
                << "frame " << i + 1;
        }
        EXPECT_NE(std::abs(means.front() - AutoExposure::kTarget),
                  std::abs(means.back() - AutoExposure::kTarget));
    }
}

}  // namespace
}  // namespace bayercam::test
