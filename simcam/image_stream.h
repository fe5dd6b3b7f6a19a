// The simulated camera's image side: after a frame request it produces one raw frame of its
// scene and streams it into the transfers queued on the image endpoint, the way a bulk pipe does
// (max-packet-size packets; a transfer ends when it is full or on a short packet).
//
// Which packet starts the transmission: the frame request [0x02] (and the start mark, which has
// the same bytes) arms the camera and throws away whatever is left of an earlier frame; the
// frame-end mark [0x03] then starts one frame, no sooner than one frame interval after the
// previous one. By then the driver has queued all of its chunk requests, so the frame flows into
// them back to back. An end mark without a request before it starts nothing, and a read that
// never sends its end mark gets no frame.
#pragma once

#include <cstdint>
#include <memory>
#include <thread>

#include "simcam/scene.h"
#include "simcam/sim_camera.h"

namespace bayercam::sim {

constexpr uint8_t kFrameRequestCode = 0x02;
constexpr uint8_t kFrameEndCode = 0x03;

enum class SimFrameFaultAction {
    Silent,  // the frame is not sent: the image endpoint stays quiet
    Short,   // only the first `bytes` bytes of the frame are sent
};

struct SimFrameFault {
    uint64_t frameNumber;  // 1 = the first frame the camera starts
    SimFrameFaultAction action;
    uint32_t bytes = 0;
};

class SimImageStream {
  public:
    // Attaches to `camera`, which must outlive the stream. At most `framesPerSecond` frames a
    // second; 0 sends each frame as soon as it is asked for.
    SimImageStream(SimCamera& camera, std::unique_ptr<Scene> scene, double framesPerSecond);
    // Detaches from the camera; a transfer waiting for data stays pending.
    ~SimImageStream();
    SimImageStream(const SimImageStream&) = delete;
    SimImageStream& operator=(const SimImageStream&) = delete;

    void AddFault(const SimFrameFault& fault);
    // Frames started by an end mark so far (silent ones included).
    uint64_t FramesStarted() const;

  private:
    struct State;
    static void Produce(State& state);

    // Shared with the camera's hooks, which may still be running when the stream goes away.
    std::shared_ptr<State> state_;
    std::thread producer_;
};

}  // namespace bayercam::sim
