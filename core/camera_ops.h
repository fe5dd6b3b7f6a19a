// The CameraOps slots that only read or count in the device record.
#pragma once

#include <cstdint>

#include "platform/kernel/ntstatus.h"

namespace bayercam {

struct CameraDevice;

// Counts the frame in `frameCounter` and tells the stream's frame sink.
NTSTATUS OnFrameReady(CameraDevice* device);
void GetRawFrameSize(CameraDevice* device, uint32_t* size);
void GetRawOffset(CameraDevice* device, int32_t* offset);
void GetRawStride(CameraDevice* device, int32_t* stride);
int32_t GetRoiX(CameraDevice* device);
int32_t GetRoiY(CameraDevice* device);
int32_t GetExtraValue(CameraDevice* device);

}  // namespace bayercam
