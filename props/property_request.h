// What every control property handler shares: finding the request's device and holding its
// settings lock for the handler's body.
#pragma once

#include <mutex>

#include "core/camera_device.h"
#include "platform/kernel/irp.h"
#include "platform/kernel/ntstatus.h"
#include "props/control_requests.h"

namespace bayercam {

// The request's filter, its device and that device's record; null when any of them is missing.
CameraDevice* RequestDevice(IRP* irp);

// Runs body(device) under the device's settings lock, which the pin also holds while it creates
// or frees the stream's ImageProcessor. STATUS_UNSUCCESSFUL, with nothing changed, when a buffer
// or the device is missing.
template <typename Body>
NTSTATUS WithRequestDevice(IRP* irp, void* property, void* data, Body body) {
    if (!property || !data) return STATUS_UNSUCCESSFUL;
    CameraDevice* device = RequestDevice(irp);
    if (!device) return STATUS_UNSUCCESSFUL;
    std::lock_guard guard(device->settingsLock);
    return body(device);
}

// The value fields of a ControlRequest data buffer.
inline int32_t RequestValue(const void* data) {
    return static_cast<const ControlRequest*>(data)->value;
}
inline void AnswerValue(void* data, int32_t value) {
    static_cast<ControlRequest*>(data)->value = value;
}

}  // namespace bayercam
