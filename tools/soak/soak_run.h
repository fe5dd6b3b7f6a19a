// A long run of the driver against the simulated camera at full speed: frames read back to back
// while another thread changes the camera's controls at random, then repeated stop/start cycles.
#pragma once

#include <cstdint>

namespace bayercam::soak {

struct SoakOptions {
    uint64_t frames = 100'000;
    uint64_t cycles = 1'000;  // device stop/start cycles after the frames
    uint64_t seed = 1;
};

struct SoakFigures {
    bool started = false;
    uint64_t framesDelivered = 0;
    uint64_t framesFailed = 0;    // reads that returned no complete frame
    uint64_t controlChanges = 0;  // made while streaming
    uint64_t controlFailures = 0;
    uint64_t cyclesDone = 0;
    uint64_t cycleFailures = 0;        // starts that did not succeed
    int64_t liveAllocationsAfter = 0;  // pool blocks still held after removal (0 = no leak)
    long peakRssKb = 0;
    double seconds = 0;
};

SoakFigures RunSoak(const SoakOptions& options);

}  // namespace bayercam::soak
