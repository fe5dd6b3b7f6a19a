// Handlers of the image settings that an open stream's ImageProcessor also holds.
#pragma once

#include "props/image_settings.h"
#include "props/property_request.h"

namespace bayercam {

// Get: the processor's current value when a stream is open (copied into the device), else the
// device's.
template <ImageSetting Setting>
NTSTATUS GetImageSetting(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice* device) {
        AnswerValue(data, RefreshImageSetting(device, Setting));
        return STATUS_SUCCESS;
    });
}

// Set: clamped, stored, and handed to the open stream's processor.
template <ImageSetting Setting>
NTSTATUS SetImageSetting(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice* device) {
        StoreImageSetting(device, Setting, RequestValue(data));
        return STATUS_SUCCESS;
    });
}

}  // namespace bayercam
