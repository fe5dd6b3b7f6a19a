// bayercam-soak: the long run behind `make soak`. Exit status 0 only when every frame and cycle
// succeeded and nothing was left allocated.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "tools/soak/soak_run.h"

int main(int argc, char** argv) {
    bayercam::soak::SoakOptions options;
    CLI::App app{"Soak the driver against the simulated camera"};
    app.add_option("--frames", options.frames, "frames to read at full speed");
    app.add_option("--cycles", options.cycles, "device stop/start cycles afterwards");
    app.add_option("--seed", options.seed, "seed of the random control changes");
    CLI11_PARSE(app, argc, argv);

    bayercam::soak::SoakFigures f = bayercam::soak::RunSoak(options);
    std::printf(
        "started: %s\nframes delivered: %llu\nframes failed: %llu\ncontrol changes: %llu "
        "(failed %llu)\nstop/start cycles: %llu (failed starts %llu)\nleft allocated: %lld\n"
        "peak RSS: %ld KiB\nseconds: %.1f\n",
        f.started ? "yes" : "no", static_cast<unsigned long long>(f.framesDelivered),
        static_cast<unsigned long long>(f.framesFailed),
        static_cast<unsigned long long>(f.controlChanges),
        static_cast<unsigned long long>(f.controlFailures),
        static_cast<unsigned long long>(f.cyclesDone),
        static_cast<unsigned long long>(f.cycleFailures),
        static_cast<long long>(f.liveAllocationsAfter), f.peakRssKb, f.seconds);
    bool clean = f.started && f.framesFailed == 0 && f.controlFailures == 0 &&
                 f.cycleFailures == 0 && f.liveAllocationsAfter == 0;
    return clean ? 0 : 1;
}
