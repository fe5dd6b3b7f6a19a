// Programming the camera for streaming (CameraOps slot 1).
#pragma once

namespace bayercam {

struct CameraDevice;

bool StartCapture(CameraDevice* device);

}  // namespace bayercam
