#include "core/camera_ops.h"

#include "camera/start_capture.h"
#include "core/camera_device.h"
#include "usb/frame_read.h"
#include "usb/pipe_recovery.h"

namespace bayercam {

const CameraOps kCameraOps = {
    &OnFrameReady, &StartCapture, &ReadFrame,        &GetRawFrameSize,
    &GetRawOffset, &GetRawStride, &AbortMarkedPipes, &CancelChunkRequests,
    &GetRoiX,      &GetRoiY,      &GetExtraValue,
};

NTSTATUS OnFrameReady(CameraDevice* device) {
    // Only the capture thread writes the counter; the stream start resets it.
    device->frameCounter.store(device->frameCounter.load(std::memory_order_relaxed) + 1,
                               std::memory_order_relaxed);
    FrameSink* sink = device->frameSink.load();
    // A frame finished after the pin let go of the device has nobody to tell.
    return sink ? sink->NotifyFrame() : STATUS_INVALID_DEVICE_STATE;
}

void GetRawFrameSize(CameraDevice* device, uint32_t* size) {
    *size = device->rawFrameBytes.load();
}

void GetRawOffset(CameraDevice* device, int32_t* offset) {
    *offset = device->rawOffset.load();
}

void GetRawStride(CameraDevice* device, int32_t* stride) {
    *stride = device->rawStride.load();
}

int32_t GetRoiX(CameraDevice* device) {
    return device->roiX.load();
}

int32_t GetRoiY(CameraDevice* device) {
    return device->roiY.load();
}

int32_t GetExtraValue(CameraDevice* device) {
    return device->extraValue.load();
}

}  // namespace bayercam
