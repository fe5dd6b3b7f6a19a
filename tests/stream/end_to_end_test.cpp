#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "bayercam/camera.h"
#include "bayercam/video_stream.h"
#include "camera/camera_geometry.h"
#include "imaging/bayer_kernels.h"
#include "imaging/image_processor.h"
#include "platform/kernel/pool.h"
#include "simcam/file_scene.h"
#include "simcam/image_stream.h"
#include "stream/frame_copy.h"
#include "stream/region_conversion.h"
#include "support/sim_device.h"

namespace bayercam::test {
namespace {

constexpr uint32_t kGuardMs = 20000;

std::vector<uint8_t> Scene() {
    std::vector<uint8_t> pixels(sim::kFrameBytes);
    for (uint32_t i = 0; i < sim::kFrameBytes; ++i)
        pixels[i] = uint8_t((i % sim::kFrameWidth) * 3 + (i / sim::kFrameWidth) * 5 + (i >> 9));
    return pixels;
}

// The client frame the plain per-pixel kernels make of `raw` with the device's settings.
std::vector<uint8_t> Reference(CameraDevice* device, const std::vector<uint8_t>& raw,
                               uint32_t frameBytes) {
    const int32_t width = device->roiW.load(), height = device->roiH.load();
    std::vector<uint8_t> image(size_t(width) * height * 4);
    ImageProcessor* processor = CreateImageProcessor(device);
    SetFrameSize(processor, width, height);
    AllocateWorkBuffer(processor);
    processor->outputBuffer = image.data();
    const uint32_t start = RoiStart(0, sim::kFrameWidth, device->roiX.load(), device->roiY.load());
    if (processor->colorEnable.load() == 1)
        ConvertColorFrameWith(kScalarKernels, processor, raw.data(), start, sim::kFrameWidth);
    else
        ConvertGrayFrame(processor, raw.data(), start, sim::kFrameWidth);
    FreeImageProcessor(processor);
    const int32_t outputWidth = device->outputWidth.load();
    FrameCopy copy{width,
                   height,
                   outputWidth,
                   device->outputHeight.load(),
                   FramePitch(0, outputWidth),
                   device->flipH.load() != 0,
                   device->flipV.load() != 0};
    std::vector<uint8_t> frame(frameBytes);
    CopyImageToFrame(copy, image.data(), frame.data(), frameBytes);
    return frame;
}

// From the simulated camera's recorded frame, through the USB read, the capture thread, the
// conversion and the pin, to the client's frame.
TEST(EndToEnd, ClientFramesMatchThePlainPipelineByteForByte) {
    struct Case {
        const char* name;
        int32_t x, y, width, height;
        int32_t flipH, flipV, colorEnable, whiteBalance;
    } cases[] = {
        {"full frame", 0, 0, 1360, 1024, 0, 0, 1, 0},
        {"region, mirrored", 10, 20, 333, 64, 1, 0, 1, 0},
        {"region, upside down, white balance", 200, 100, 512, 256, 0, 1, 1, 1},
        {"grey", 0, 0, 64, 32, 1, 1, 0, 0},
    };
    const std::vector<uint8_t> scene = Scene();
    const int64_t live = pool::LiveAllocations();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            testing::SimDevice sim;
            sim::SimImageStream images(sim.camera, std::make_unique<sim::FileScene>(scene), 0);
            sim.AddAndStart();
            CameraDevice* device = sim.device();
            SetGeometry(device, c.x, c.y, c.width, c.height);
            device->flipH.store(c.flipH);
            device->flipV.store(c.flipV);
            device->colorEnable.store(c.colorEnable);
            device->whiteBalance.store(c.whiteBalance);

            client::Filter filter;
            ASSERT_TRUE(client::OpenFilterByReference(*sim.ksDevice, "GLOBAL", &filter).ok());
            client::VideoStream stream;
            ASSERT_TRUE(stream.Open(filter, {.frames = 2, .rawFrames = true}).ok());
            ASSERT_TRUE(stream.Start().ok());
            client::Frame* frame = nullptr;
            client::Status status = stream.Next(kGuardMs, &frame);
            ASSERT_TRUE(status.ok()) << status.message;
            EXPECT_EQ(stream.Raw(*frame)->bytes, scene);
            const std::vector<uint8_t> expected = Reference(device, scene, frame->Size());
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), frame->Data()));
            EXPECT_EQ(frame->Header().DataUsed,
                      uint32_t(device->outputWidth.load()) * device->outputHeight.load() * 4);
            EXPECT_TRUE(stream.Stop().ok());
        }
        EXPECT_EQ(pool::LiveAllocations(), live);
    }
}

}  // namespace
}  // namespace bayercam::test
