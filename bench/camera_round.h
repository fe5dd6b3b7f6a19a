// One round of the cameras-per-host measurement: K simulated cameras streaming at once in this
// process through libbayercam, each frame taken by its own consumer thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/stream_tally.h"

namespace bayercam::bench {

struct RoundSettings {
    uint32_t cameras;
    double fps;            // the simulated cameras' frame rate
    double settleSeconds;  // streamed but not counted, once the last camera has started
    double seconds;        // how long all of them stream together, counted
};

struct RoundResult {
    std::string error;  // empty when every camera opened and started
    std::vector<StreamTally> streams;
    double wallSeconds = 0;
    double cpuSeconds = 0;  // the whole process's: cameras, driver and consumers

    bool Clean() const;
    uint64_t Delivered() const;
    uint64_t Dropped() const;
};

RoundResult RunCameraRound(const RoundSettings& settings);

}  // namespace bayercam::bench
