#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "bayercam/video_stream.h"
#include "camera/camera_geometry.h"
#include "imaging/image_processor.h"
#include "stream_fixture.h"

namespace bayercam::test {
namespace {

constexpr uint32_t kGuardMs = 20000;

// Settings change from another thread the way property requests do, while frames stream and the
// pin pauses and resumes; the sanitizers watch for races and stale buffers.
TEST_F(StreamFixture, SettingsChangeWhileFramesStream) {
    SetGeometry(device(), 8, 8, 96, 32);
    fake_.SetImage(std::vector<uint8_t>(size_t(kSensorWidth) * kSensorHeight, 0x80));
    fake_.SetMode(ReadMode::Free);
    client::Filter filter;
    OpenFilter(&filter);
    {
        client::VideoStream stream;
        ASSERT_TRUE(stream.Open(filter, {.frames = 4, .rawFrames = true}).ok());
        const uint32_t frameBytes = stream.Format().VideoInfoHeader.bmiHeader.biSizeImage;
        ASSERT_TRUE(stream.Start().ok());

        std::atomic<bool> done{false};
        std::thread properties([&] {
            for (int32_t i = 0; !done.load(); ++i) {
                CameraDevice* camera = device();
                camera->flipH.exchange(i & 1);
                camera->flipV.exchange((i >> 1) & 1);
                SetGeometry(camera, 0, 0, 640, 480);  // ignored while the pin exists
                std::lock_guard<std::recursive_mutex> settings(camera->settingsLock);
                if (ImageProcessor* processor = camera->imageProcessor.load()) {
                    UpdateBrightness(processor, 200 + i % 100);
                    UpdateHue(processor, i % 360);
                    SetColorEnable(processor, (i % 7) != 0);
                    SetAutoWhiteBalance(processor, i % 3 == 0);
                }
            }
        });
        for (int frames = 0; frames < 300; ++frames) {
            client::Frame* frame = nullptr;
            client::Status status = stream.Next(kGuardMs, &frame);
            ASSERT_TRUE(status.ok()) << status.message;
            EXPECT_EQ(frame->Header().DataUsed, frameBytes);
            EXPECT_EQ(stream.Raw(*frame)->bytes.size(), size_t(kSensorWidth) * kSensorHeight);
            ASSERT_TRUE(stream.Requeue(frame).ok());
            if (frames % 50 == 49) {
                ASSERT_TRUE(stream.Pause().ok());
                ASSERT_TRUE(stream.Resume().ok());
            }
        }
        done.store(true);
        properties.join();
        EXPECT_TRUE(stream.Stop().ok());
        EXPECT_EQ(device()->roiW.load(), 96);
    }
    EXPECT_EQ(device()->geometryLocked.load(), 0);
}

}  // namespace
}  // namespace bayercam::test
