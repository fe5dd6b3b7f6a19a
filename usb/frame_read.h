// Reading one raw frame from the camera (CameraOps slots 2 and 7).
#pragma once

#include <cstdint>

#include "usb/chunked_read.h"

namespace bayercam {

// Requests one frame and reads all `rawFrameBytes` bytes of it into `buffer`; returns `*ok`,
// which is true only for a complete frame.
bool ReadFrame(CameraDevice* device, uint8_t* buffer, bool* ok);

}  // namespace bayercam
