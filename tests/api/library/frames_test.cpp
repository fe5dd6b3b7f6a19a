#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "api/library/application_camera.h"
#include "api/library/library_fixture.h"
#include "imaging/bayer_kernels.h"
#include "imaging/image_processor.h"
#include "simcam/scene.h"
#include "stream/frame_copy.h"
#include "stream/region_conversion.h"

namespace bayercam::test {
namespace {

constexpr uint32_t kGuardMs = 20000;

std::vector<uint8_t> Scene(uint32_t seed) {
    std::vector<uint8_t> pixels(sim::kFrameBytes);
    for (uint32_t i = 0; i < sim::kFrameBytes; ++i)
        pixels[i] = uint8_t((i % sim::kFrameWidth) * (3 + seed) + (i / sim::kFrameWidth) * 5 +
                            (i >> (9 - seed)));
    return pixels;
}

std::string WritePgm(const std::string& path, const std::vector<uint8_t>& pixels) {
    std::ofstream file(path, std::ios::binary);
    file << "P5\n" << sim::kFrameWidth << " " << sim::kFrameHeight << "\n255\n";
    file.write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));
    return path;
}

// What the driver puts in its own bottom-up client frame for `raw` with the device's settings,
// from the plain per-pixel kernels.
std::vector<uint8_t> BottomUpFrame(CameraDevice* device, const std::vector<uint8_t>& raw) {
    const int32_t width = device->roiW.load(), height = device->roiH.load();
    std::vector<uint8_t> image(size_t(width) * height * 4);
    ImageProcessor* processor = CreateImageProcessor(device);
    SetFrameSize(processor, width, height);
    AllocateWorkBuffer(processor);
    processor->outputBuffer = image.data();
    const uint32_t start = RoiStart(0, sim::kFrameWidth, device->roiX.load(), device->roiY.load());
    ConvertColorFrameWith(kScalarKernels, processor, raw.data(), start, sim::kFrameWidth);
    FreeImageProcessor(processor);
    const int32_t outputWidth = device->outputWidth.load();
    const uint32_t pitch = FramePitch(0, outputWidth);
    FrameCopy copy{width,
                   height,
                   outputWidth,
                   device->outputHeight.load(),
                   pitch,
                   device->flipH.load() != 0,
                   device->flipV.load() != 0};
    std::vector<uint8_t> frame(size_t(pitch) * copy.outputHeight);
    CopyImageToFrame(copy, image.data(), frame.data(), uint32_t(frame.size()));
    return frame;
}

struct Stream {
    const char* name;
    int32_t x, y, width, height;
    int32_t flipV;
    std::vector<uint8_t> scene;
    std::unique_ptr<library::ApplicationCamera> camera;
    std::vector<uint8_t> bottomUp;
};

// Several cameras in one process, streaming at once with regions of their own: each frame is the
// conversion of its own scene, top row first, whatever the other camera does.
TEST_F(LibraryTest, CamerasStreamTheirOwnRegionsAtOnceTopRowFirst) {
    Stream streams[] = {
        {"left, upright", 16, 8, 640, 480, 0, Scene(0), nullptr, {}},
        {"right, upside down", 500, 300, 333, 200, 1, Scene(1), nullptr, {}},
    };
    for (Stream& s : streams) {
        SCOPED_TRACE(s.name);
        std::string scene = WritePgm(settings_ + "/" + std::to_string(s.x) + ".pgm", s.scene);
        std::string selector = "sim:fps=0,scene=file:" + scene;
        std::string error;
        ASSERT_EQ(library::ApplicationCamera::Open(selector.c_str(), Settings(), &s.camera, &error),
                  0)
            << error;
        ASSERT_EQ(s.camera->SetRegion(s.x, s.y, s.width, s.height), 0);
        ASSERT_EQ(s.camera->SetControl("FlipV", s.flipV), 0);
        ASSERT_EQ(s.camera->SetControl("WhiteBalance", 0), 0);
    }
    // Every region is set before any stream starts: one camera's region must not become the
    // other's.
    for (Stream& s : streams) {
        ASSERT_EQ(s.camera->Start(), 0) << s.camera->LastError();
        s.bottomUp = BottomUpFrame(s.camera->Session().Camera(), s.scene);
    }
    for (int round = 0; round < 3; ++round) {
        for (Stream& s : streams) {
            SCOPED_TRACE(s.name);
            bayercam_frame* frame = nullptr;
            ASSERT_EQ(s.camera->NextFrame(kGuardMs, &frame), 0) << s.camera->LastError();
            ASSERT_EQ(frame->width, uint32_t(s.width / 8 * 8));
            ASSERT_EQ(frame->height, uint32_t(s.height));
            const size_t rowBytes = size_t(frame->width) * 4;
            for (uint32_t row = 0; row < frame->height; ++row) {
                const uint8_t* expected = s.bottomUp.data() + (frame->height - 1 - row) * rowBytes;
                ASSERT_EQ(
                    std::memcmp(frame->data + size_t(row) * frame->stride, expected, rowBytes), 0)
                    << "row " << row;
            }
            EXPECT_EQ(s.camera->ReleaseFrame(frame), 0);
        }
    }
}

}  // namespace
}  // namespace bayercam::test
