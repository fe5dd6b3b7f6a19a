// A started simulated camera with its capture filter open, made once and kept for every input of
// a fuzz target (a device start per input would leave the fuzzer little time for anything else).
// The region is small, so that a frame the pin delivers costs little to convert.
#pragma once

#include <memory>

#include "bayercam/camera.h"
#include "platform/ks/ks_filter.h"
#include "simcam/image_stream.h"

namespace bayercam::fuzz {

struct FuzzCamera {
    std::unique_ptr<client::Camera> camera;
    std::unique_ptr<sim::SimImageStream> images;
    KSFILTER* filter = nullptr;
};

// Never freed: inputs run until the process ends.
FuzzCamera& TheCamera();

// Sets the region of interest back to its small default (inputs may change it).
void ResetRegion(FuzzCamera& camera);

}  // namespace bayercam::fuzz
