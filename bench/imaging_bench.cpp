// Frame conversion at the camera's full size, 1360 x 1024 RGGB with the default settings, next to
// the memory floor: expanding the same number of bytes into gray pixels.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "full_frame.h"
#include "imaging/bayer_kernels.h"
#include "imaging/image_processor.h"
#include "imaging/worker_pool.h"

namespace bayercam {
namespace {

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

// The same in stripes: the caller and threads - 1 workers. Wall time is what shrinks.
void BM_ConvertColorFrameThreaded(benchmark::State& state) {
    FullFrame frame;
    WorkerPool pool(static_cast<uint32_t>(state.range(0) - 1));
    frame.processor()->workers = &pool;
    for (auto _ : state) {
        ConvertColorFrame(frame.processor(), frame.raw(), 0, kWidth);
        benchmark::DoNotOptimize(frame.output());
    }
    CountFrames(state);
}
BENCHMARK(BM_ConvertColorFrameThreaded)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

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
