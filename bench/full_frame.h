// One full-size frame and a processor as a stream opens it, for the benchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/camera_device.h"
#include "imaging/image_processor.h"
#include "platform/kernel/pool.h"

namespace bayercam {

constexpr uint32_t kWidth = 1360;
constexpr uint32_t kHeight = 1024;
constexpr size_t kPixels = size_t{kWidth} * kHeight;

// A processor as a stream opens it on a freshly initialised camera, sized for the full sensor.
class FullFrame {
  public:
    FullFrame() : raw_(kPixels), output_(kPixels * 4) {
        std::mt19937 random(1);
        std::uniform_int_distribution<int> byte(0, 255);
        for (uint8_t& p : raw_) p = static_cast<uint8_t>(byte(random));

        CameraDevice* device = PoolNew<CameraDevice>();
        device->pipelineMode = 2;
        device->colorEnable = 1;
        device->redGain = 128;
        device->greenGain = 128;
        device->blueGain = 128;
        device->colorCorrection = 1;
        device->brightness = 255;
        device->contrast = 10;
        device->saturation = 10;
        processor_ = CreateImageProcessor(device);
        PoolDelete(device);
        SetFrameSize(processor_, kWidth, kHeight);
        AllocateWorkBuffer(processor_);
        processor_->outputBuffer = output_.data();
    }
    ~FullFrame() { FreeImageProcessor(processor_); }

    ImageProcessor* processor() { return processor_; }
    const uint8_t* raw() const { return raw_.data(); }
    uint8_t* output() { return output_.data(); }

  private:
    std::vector<uint8_t> raw_;
    std::vector<uint8_t> output_;
    ImageProcessor* processor_;
};

inline void CountFrames(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kPixels));
}

}  // namespace bayercam
