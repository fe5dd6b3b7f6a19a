#include "bench/camera_round.h"

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "bayercam/bayercam.h"

namespace bayercam::bench {
namespace {

// Longer than any frame interval worth measuring: a wait this long is a stalled stream.
constexpr uint32_t kFrameWaitMs = 2000;

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct CameraCloser {
    void operator()(bayercam_camera* camera) const { bayercam_close(camera); }
};
using Camera = std::unique_ptr<bayercam_camera, CameraCloser>;

// A settings folder per camera, so that no two save into the same one; removed afterwards.
struct ScratchFolder {
    std::filesystem::path path;
    ScratchFolder() {
        char name[] = "/tmp/bayercam-cameras-XXXXXX";
        if (mkdtemp(name)) path = name;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

using Clock = std::chrono::steady_clock;

Clock::duration Seconds(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Takes frames until `end`, counting those from `counted` on.
void Consume(bayercam_camera* camera, Clock::time_point counted, Clock::time_point end,
             StreamTally* tally) {
    StreamTally settling;
    while (Clock::now() < end) {
        StreamTally* into = Clock::now() < counted ? &settling : tally;
        bayercam_frame* frame = nullptr;
        if (bayercam_next_frame(camera, kFrameWaitMs, &frame) != 0) {
            into->AddTimeout();
            continue;
        }
        into->Add(frame->sequence, frame->dropped);
        bayercam_release_frame(camera, frame);
    }
}

}  // namespace

bool RoundResult::Clean() const {
    for (const StreamTally& s : streams) {
        if (!s.Clean()) return false;
    }
    return error.empty();
}

uint64_t RoundResult::Delivered() const {
    uint64_t total = 0;
    for (const StreamTally& s : streams) total += s.Delivered();
    return total;
}

uint64_t RoundResult::Dropped() const {
    uint64_t total = 0;
    for (const StreamTally& s : streams) total += s.Dropped();
    return total;
}

RoundResult RunCameraRound(const RoundSettings& settings) {
    RoundResult result;
    ScratchFolder scratch;
    if (scratch.path.empty()) {
        result.error = "no scratch folder for the settings";
        return result;
    }
    const std::string selector = "sim:fps=" + std::to_string(settings.fps);
    std::vector<Camera> cameras;
    for (uint32_t i = 0; i < settings.cameras; ++i) {
        const std::string folder = (scratch.path / std::to_string(i)).string();
        bayercam_camera* camera = nullptr;
        if (bayercam_open(selector.c_str(), folder.c_str(), &camera) != 0) {
            result.error = "camera " + std::to_string(i + 1) + ": " + bayercam_last_error(nullptr);
            return result;
        }
        cameras.emplace_back(camera);
    }
    for (size_t i = 0; i < cameras.size(); ++i) {
        if (bayercam_start(cameras[i].get()) != 0) {
            result.error =
                "camera " + std::to_string(i + 1) + ": " + bayercam_last_error(cameras[i].get());
            return result;
        }
    }
    result.streams.resize(cameras.size());
    const Clock::time_point counted = Clock::now() + Seconds(settings.settleSeconds);
    const Clock::time_point end = counted + Seconds(settings.seconds);
    std::vector<std::jthread> consumers;
    for (size_t i = 0; i < cameras.size(); ++i) {
        consumers.emplace_back(Consume, cameras[i].get(), counted, end, &result.streams[i]);
    }
    std::this_thread::sleep_until(counted);
    const double cpuStart = ProcessCpuSeconds();
    consumers.clear();  // joins them
    result.wallSeconds = std::chrono::duration<double>(Clock::now() - counted).count();
    result.cpuSeconds = ProcessCpuSeconds() - cpuStart;
    return result;
}

}  // namespace bayercam::bench
