// bayercam-cameras: how many simulated cameras this host carries at their frame rate in one
// process. Rounds of K = 1, 2, ... cameras stream together; the first round in which a stream
// loses a frame ends the run, and the largest K before it is the figure.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>

#include "bench/camera_round.h"

namespace {

double LoadAverage() {
    double load = 0;
    return getloadavg(&load, 1) == 1 ? load : -1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace bayercam::bench;
    CLI::App app{"Runs K simulated cameras at once, K = 1, 2, ..., until a stream drops a frame."};
    uint32_t from = 1;
    uint32_t most = 32;
    RoundSettings settings{0, 30, 1, 10};
    app.add_option("--from", from, "First K")->check(CLI::Range(1u, 256u));
    app.add_option("--most", most, "Last K tried")->check(CLI::Range(1u, 256u));
    app.add_option("--fps", settings.fps, "Frame rate of each camera")
        ->check(CLI::Range(1.0, 1000.0));
    app.add_option("--settle", settings.settleSeconds,
                   "Seconds each round streams before counting, once all cameras have started")
        ->check(CLI::Range(0.0, 60.0));
    app.add_option("--seconds", settings.seconds, "How long each round streams, counted")
        ->check(CLI::Range(0.5, 3600.0));
    CLI11_PARSE(app, argc, argv);

    std::printf("%7s %10s %8s %11s %13s %13s\n", "cameras", "delivered", "dropped", "fps/camera",
                "cpu (cores)", "load average");
    uint32_t largestClean = 0;
    for (uint32_t k = from; k <= most; ++k) {
        const double loadBefore = LoadAverage();
        settings.cameras = k;
        const RoundResult round = RunCameraRound(settings);
        if (!round.error.empty()) {
            std::printf("%7u  %s\n", k, round.error.c_str());
            break;
        }
        std::printf("%7u %10llu %8llu %11.2f %13.2f %13.2f\n", k,
                    static_cast<unsigned long long>(round.Delivered()),
                    static_cast<unsigned long long>(round.Dropped()),
                    double(round.Delivered()) / k / round.wallSeconds,
                    round.cpuSeconds / round.wallSeconds, loadBefore);
        std::fflush(stdout);
        if (!round.Clean()) break;
        largestClean = k;
    }
    std::printf("largest K with no frame dropped: %u\n", largestClean);
    return 0;
}
