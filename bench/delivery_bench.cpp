// One frame converted and delivered into a bottom-up client frame, as the pin does it: through
// the output buffer and a copy (direct:0), or converted straight into the client frame
// (direct:1). Mirrored or not.
#include <benchmark/benchmark.h>

#include <vector>

#include "full_frame.h"
#include "imaging/image_processor.h"
#include "stream/frame_copy.h"

namespace bayercam {
namespace {

void BM_DeliverFrame(benchmark::State& state) {
    const bool direct = state.range(0) != 0;
    FullFrame frame;
    std::vector<uint8_t> client(kPixels * 4);
    const FrameCopy copy{kWidth, kHeight, kWidth, kHeight, kWidth * 4, state.range(1) != 0, false};
    ImageDestination destination{};
    FrameAsDestination(copy, client.data(), static_cast<uint32_t>(client.size()), &destination);
    for (auto _ : state) {
        if (direct) {
            ConvertColorFrameInto(frame.processor(), frame.raw(), 0, kWidth, destination);
        } else {
            ConvertColorFrame(frame.processor(), frame.raw(), 0, kWidth);
            CopyImageToFrame(copy, frame.output(), client.data(),
                             static_cast<uint32_t>(client.size()));
        }
        benchmark::DoNotOptimize(client.data());
    }
    CountFrames(state);
}
BENCHMARK(BM_DeliverFrame)
    ->ArgNames({"direct", "mirror"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bayercam
