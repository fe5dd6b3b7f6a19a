// A widely used library's bilinear Bayer-to-BGRA conversion of the same frame, on one thread:
// the yardstick for BM_ConvertColorFrame (which does more: gradient correction, gains, matrix).
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "full_frame.h"

namespace bayercam {
namespace {

void BM_OpenCvBilinearBgra(benchmark::State& state) {
    FullFrame frame;
    cv::setNumThreads(1);
    const cv::Mat raw(kHeight, kWidth, CV_8UC1, const_cast<uint8_t*>(frame.raw()));
    cv::Mat bgra(kHeight, kWidth, CV_8UC4, frame.output());
    for (auto _ : state) {
        cv::cvtColor(raw, bgra, cv::COLOR_BayerBG2BGRA);
        benchmark::DoNotOptimize(bgra.data);
    }
    CountFrames(state);
}
BENCHMARK(BM_OpenCvBilinearBgra)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bayercam
