// The benchmarks' entry: the context names the instruction set the kernels' dispatch chose.
#include <benchmark/benchmark.h>

#include "imaging/bayer_kernels.h"

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::AddCustomContext("kernel_target", bayercam::VectorKernelTarget());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
