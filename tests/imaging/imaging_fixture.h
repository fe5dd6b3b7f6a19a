// Shared set-up for the image pipeline tests: a processor sized for one frame, raw frames and
// direct control of the per-frame copies the kernels read.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "core/camera_device.h"
#include "imaging/bayer_kernels.h"
#include "imaging/image_processor.h"

namespace bayercam::test {

// A device record holding the settings a freshly initialised camera has.
class DefaultDevice {
  public:
    DefaultDevice();
    ~DefaultDevice();
    DefaultDevice(const DefaultDevice&) = delete;
    DefaultDevice& operator=(const DefaultDevice&) = delete;
    CameraDevice* operator->() { return device_; }
    CameraDevice* get() { return device_; }

  private:
    CameraDevice* device_;
};

// An 8-bit raw frame, rows packed.
struct RawFrame {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;

    uint8_t& at(uint32_t x, uint32_t y) { return pixels[size_t{y} * width + x]; }
};

RawFrame RandomFrame(uint32_t width, uint32_t height, std::mt19937& random);
RawFrame UniformFrame(uint32_t width, uint32_t height, uint8_t value);
// Red, green and blue sites set to one value each, for a phase.
RawFrame MosaicFrame(uint32_t width, uint32_t height, BayerPhase phase, uint8_t red, uint8_t green,
                     uint8_t blue);

// A processor created from default device settings, sized and given an output buffer.
class SizedProcessor {
  public:
    SizedProcessor(uint32_t width, uint32_t height);
    ~SizedProcessor();
    SizedProcessor(const SizedProcessor&) = delete;
    SizedProcessor& operator=(const SizedProcessor&) = delete;

    ImageProcessor* get() { return processor_; }
    ImageProcessor* operator->() { return processor_; }
    std::vector<uint8_t>& output() { return output_; }

    // PadRawFrame with rows packed, and the output cursor at the output buffer.
    void Pad(const RawFrame& frame);
    void SetFrameGains(int32_t red, int32_t green, int32_t blue);
    // frameMatrix and its sign flags, as the per-frame snapshot sets them.
    void SetFrameMatrix(const int32_t (&matrix)[16]);
    // Output pixel (x, y) as blue, green, red, alpha.
    const uint8_t* Pixel(uint32_t x, uint32_t y) const;

  private:
    ImageProcessor* processor_;
    std::vector<uint8_t> output_;
};

inline constexpr int32_t kIdentityMatrix[16] = {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64};

inline constexpr BayerPhase kAllPhases[] = {BayerPhase::GRBG, BayerPhase::BGGR, BayerPhase::RGGB,
                                            BayerPhase::GBRG};

// The kernel sets under test, with a name for test output.
struct NamedKernels {
    const char* name;
    const BayerKernelSet* kernels;
};
inline const NamedKernels kBothKernelSets[] = {{"scalar", &kScalarKernels},
                                               {"vector", &kVectorKernels}};

}  // namespace bayercam::test
