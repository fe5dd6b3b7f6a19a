#include "simcam/image_stream.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace bayercam::sim {
namespace {

using Clock = std::chrono::steady_clock;

uint32_t ImagePacketSize(const SimCameraOptions& options) {
    for (const SimInterface& interface : options.interfaces) {
        for (const SimEndpoint& endpoint : interface.endpoints) {
            if (endpoint.address == kImageEndpoint && endpoint.maxPacketSize > 0) {
                return endpoint.maxPacketSize;
            }
        }
    }
    return 512;
}

}  // namespace

struct SimImageStream::State {
    // A started frame waiting for its time and its rendering.
    struct Job {
        uint64_t generation;  // the request it answers; a later request makes it stale
        uint64_t index;       // 0 for the first frame
        uint32_t bytes;       // how much of it goes out
        Clock::time_point due;
    };

    State(SimCamera& camera, std::unique_ptr<Scene> scene, double framesPerSecond)
        : camera(camera),
          scene(std::move(scene)),
          interval(framesPerSecond > 0 ? std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(1.0 / framesPerSecond))
                                       : Clock::duration::zero()),
          packetSize(ImagePacketSize(camera.Options())),
          front(kFrameBytes),
          back(kFrameBytes) {}

    void Control(const uint8_t* packet, uint32_t length);
    bool Deliver(uint8_t* buffer, uint32_t length, uint32_t* produced);

    SimCamera& camera;
    const std::unique_ptr<Scene> scene;
    const Clock::duration interval;
    const uint32_t packetSize;

    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    bool armed = false;
    uint64_t generation = 0;
    uint64_t framesStarted = 0;
    Clock::time_point nextFrame{};
    bool pending = false;
    Job job{};
    std::vector<SimFrameFault> faults;
    std::vector<uint8_t> front;  // the frame being sent, read under the lock
    std::vector<uint8_t> back;   // the frame being rendered, by the producer only
    uint32_t available = 0;      // bytes of `front` that go out
    uint32_t sent = 0;
};

void SimImageStream::State::Control(const uint8_t* packet, uint32_t length) {
    if (length == 0) return;
    std::lock_guard<std::mutex> guard(lock);
    if (packet[0] == kFrameRequestCode) {
        ++generation;
        armed = true;
        available = sent = 0;
        return;
    }
    if (packet[0] != kFrameEndCode || !armed) return;
    armed = false;
    uint64_t number = ++framesStarted;
    Clock::time_point now = Clock::now();
    Clock::time_point due = std::max(now, nextFrame);
    nextFrame = due + interval;
    uint32_t bytes = kFrameBytes;
    auto fault = std::find_if(faults.begin(), faults.end(),
                              [&](const SimFrameFault& f) { return f.frameNumber == number; });
    if (fault != faults.end()) {
        SimFrameFault taken = *fault;
        faults.erase(fault);
        if (taken.action == SimFrameFaultAction::Silent) return;
        bytes = std::min(taken.bytes, kFrameBytes);
    }
    job = {generation, number - 1, bytes, due};
    pending = true;
    wake.notify_all();
}

bool SimImageStream::State::Deliver(uint8_t* buffer, uint32_t length, uint32_t* produced) {
    std::lock_guard<std::mutex> guard(lock);
    uint32_t count = std::min(length, available - sent);
    // Without a short packet the transfer goes on waiting for data this frame does not have.
    if (count == 0 || (count < length && count % packetSize == 0)) return false;
    std::memcpy(buffer, front.data() + sent, count);
    sent += count;
    *produced = count;
    return true;
}

void SimImageStream::Produce(State& state) {
    std::unique_lock<std::mutex> lock(state.lock);
    while (!state.stopping) {
        if (!state.pending) {
            state.wake.wait(lock);
            continue;
        }
        if (Clock::now() < state.job.due) {
            state.wake.wait_until(lock, state.job.due);
            continue;
        }
        State::Job job = state.job;
        state.pending = false;
        lock.unlock();
        state.scene->Render(ReadSensorSettings(state.camera), job.index, state.back.data());
        lock.lock();
        // A request that came meanwhile belongs to a newer read: this frame is not for it.
        if (job.generation != state.generation) continue;
        std::swap(state.front, state.back);
        state.available = job.bytes;
        state.sent = 0;
        lock.unlock();
        state.camera.WakeImageSource();
        lock.lock();
    }
}

SimImageStream::SimImageStream(SimCamera& camera, std::unique_ptr<Scene> scene,
                               double framesPerSecond)
    : state_(std::make_shared<State>(camera, std::move(scene), framesPerSecond)),
      producer_([state = state_.get()] { Produce(*state); }) {
    std::shared_ptr<State> state = state_;
    camera.SetImageControl([state](SimCamera&, const uint8_t* packet, uint32_t length) {
        state->Control(packet, length);
    });
    camera.SetImageSource([state](uint8_t* buffer, uint32_t length, uint32_t* produced) {
        return state->Deliver(buffer, length, produced);
    });
}

SimImageStream::~SimImageStream() {
    state_->camera.SetImageControl(nullptr);
    state_->camera.SetImageSource(nullptr);
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->stopping = true;
        state_->wake.notify_all();
    }
    producer_.join();
}

void SimImageStream::AddFault(const SimFrameFault& fault) {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->faults.push_back(fault);
}

uint64_t SimImageStream::FramesStarted() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->framesStarted;
}

}  // namespace bayercam::sim
