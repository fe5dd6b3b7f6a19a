// Frame conversion at the camera's full size, 1360 x 1024 RGGB with the default settings, next to
// the memory floor: expanding the same number of bytes into gray pixels.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/camera_device.h"
#include "imaging/bayer_kernels.h"
#include "imaging/image_processor.h"
#include "platform/kernel/pool.h"

namespace bayercam {
namespace {

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

void CountFrames(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kPixels));
}

void BM_ConvertColorFrame(benchmark::State& state) {
    FullFrame frame;
    SetAutoWhiteBalance(frame.processor(), static_cast<int32_t>(state.range(0)));
    for (auto _ : state) {
        ConvertColorFrame(frame.processor(), frame.raw(), 0, kWidth);
        benchmark::DoNotOptimize(frame.output());
        // Automatic white balance rewrites the gains every frame; start each from unity.
        SetRedGain(frame.processor(), 128);
        SetBlueGain(frame.processor(), 128);
    }
    CountFrames(state);
}
BENCHMARK(BM_ConvertColorFrame)->ArgName("awb")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ConvertColorFrameScalar(benchmark::State& state) {
    FullFrame frame;
    for (auto _ : state) {
        ConvertColorFrameWith(kScalarKernels, frame.processor(), frame.raw(), 0, kWidth);
        benchmark::DoNotOptimize(frame.output());
    }
    CountFrames(state);
}
BENCHMARK(BM_ConvertColorFrameScalar)->Unit(benchmark::kMillisecond);

void BM_ConvertLumaKernel(benchmark::State& state) {
    FullFrame frame;
    ImageProcessor* p = frame.processor();
    PadRawFrame(p, frame.raw(), 0, kWidth);
    p->outputCursor = frame.output();
    p->frameRedGain = p->frameGreenGain = p->frameBlueGain = 128;
    for (auto _ : state) {
        ConvertLumaKernel(p, BayerPhase::RGGB);
        benchmark::DoNotOptimize(frame.output());
    }
    CountFrames(state);
}
BENCHMARK(BM_ConvertLumaKernel)->Unit(benchmark::kMillisecond);

void BM_ConvertGrayFrame(benchmark::State& state) {
    FullFrame frame;
    for (auto _ : state) {
        ConvertGrayFrame(frame.processor(), frame.raw(), 0, kWidth);
        benchmark::DoNotOptimize(frame.output());
    }
    CountFrames(state);
}
BENCHMARK(BM_ConvertGrayFrame)->Unit(benchmark::kMillisecond);

void BM_PadRawFrame(benchmark::State& state) {
    FullFrame frame;
    for (auto _ : state) {
        PadRawFrame(frame.processor(), frame.raw(), 0, kWidth);
        benchmark::DoNotOptimize(frame.processor()->workBuffer);
    }
    CountFrames(state);
}
BENCHMARK(BM_PadRawFrame)->Unit(benchmark::kMillisecond);

// The memory floor: read 1,392,640 bytes, write each as a 4-byte gray pixel.
void BM_ExpandBytesToBgra(benchmark::State& state) {
    FullFrame frame;
    for (auto _ : state) {
        ExpandBytesToBgra(frame.raw(), frame.output(), kPixels);
        benchmark::DoNotOptimize(frame.output());
    }
    CountFrames(state);
}
BENCHMARK(BM_ExpandBytesToBgra)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bayercam

BENCHMARK_MAIN();
