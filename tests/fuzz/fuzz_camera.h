// A started simulated camera with its capture filter open, made once and kept for every input of
// a fuzz target (a device start per input would leave the fuzzer little time for anything else).
// The region is small and the scene blank, so that a frame the pin delivers costs a copy, not a
// chart render.
#pragma once

#include <memory>

#include "bayercam/camera.h"
#include "platform/ks/ks_filter.h"
#include "simcam/image_stream.h"

namespace bayercam::fuzz {

struct FuzzCamera {
    std::unique_ptr<client::Camera> camera;
    sim::SimCamera* sim = nullptr;  // owned by `camera`'s bus
    std::unique_ptr<sim::SimImageStream> images;
    KSFILTER* filter = nullptr;
};

// Never freed: inputs run until the process ends.
FuzzCamera& TheCamera();

// Puts the camera back where the next input starts: the small default region (inputs may change
// it), and nothing of this input kept by the camera. Memory that outlives the input it was
// allocated in costs the fuzzer a leak search, so nothing may pile up across inputs.
void FinishInput(FuzzCamera& camera);

}  // namespace bayercam::fuzz
