// Reading one raw frame from the image pipe (CameraOps slots 2 and 7).
#pragma once

#include <cstdint>

namespace bayercam {

struct CameraDevice;

// Reads one whole raw frame of `rawFrameBytes` bytes into `buffer`; returns `*ok`.
bool ReadFrame(CameraDevice* device, uint8_t* buffer, bool* ok);
// Cancels the chunk requests of a read in progress and waits for them.
void CancelChunkRequests(CameraDevice* device);

}  // namespace bayercam
