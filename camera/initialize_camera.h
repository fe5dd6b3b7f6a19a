// Bringing a freshly configured camera into its working state.
#pragma once

namespace bayercam {

struct CameraDevice;

// Always true.
bool InitializeCamera(CameraDevice* device);

}  // namespace bayercam
