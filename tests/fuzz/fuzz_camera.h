// A started simulated camera with its capture filter open, made once and kept for every input of
// a fuzz target (a device start per input would leave the fuzzer little time for anything else).
// The region is small and the camera behaves (BehaveNormally), so that a frame the pin delivers
// costs little.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>

#include "bayercam/camera.h"
#include "platform/ks/ks_filter.h"
#include "simcam/sim_camera.h"

namespace bayercam::fuzz {

struct FuzzCamera {
    std::unique_ptr<client::Camera> camera;
    sim::SimCamera* sim = nullptr;  // owned by `camera`'s bus
    KSFILTER* filter = nullptr;
};

// Frame requests taken at most one a quarter millisecond, as a frame rate bounds a real camera. A
// camera with its frame always ready let the capture thread read frames back to back, about
// thirty for each frame the pipeline delivered, while the frames an input takes waited for their
// conversion. A whole millisecond only made inputs wait: a quarter of one ran 60 % more inputs a
// second for no more processor time.
class FramePacer {
  public:
    // Sleeps until the next frame may start.
    void Wait();

  private:
    std::mutex lock_;
    std::chrono::steady_clock::time_point last_;
};

// Hooks of a camera that behaves: its own answers to commands, paced frame requests, and an image
// pipe that fills every chunk at once without moving a byte. A behaving camera's pixels reach no
// code, and copying whole frames into buffers fresh from the allocator was a third of a run.
void BehaveNormally(sim::SimCamera& camera);

// Never freed: inputs run until the process ends.
FuzzCamera& TheCamera();

// Puts the camera back where the next input starts: the small default region (inputs may change
// it), and nothing of this input kept by the camera. Memory that outlives the input it was
// allocated in costs the fuzzer a leak search, so nothing may pile up across inputs.
void FinishInput(FuzzCamera& camera);

}  // namespace bayercam::fuzz
