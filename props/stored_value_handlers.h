// Handlers of the properties that only read or store a member of the device.
#pragma once

#include "props/property_request.h"

namespace bayercam {

// Get: the member's value.
template <auto Member>
NTSTATUS GetStoredValue(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice* device) {
        AnswerValue(data, static_cast<int32_t>((device->*Member).load()));
        return STATUS_SUCCESS;
    });
}

// Set: the member takes the value unchanged.
template <auto Member>
NTSTATUS SetStoredValue(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice* device) {
        (device->*Member).store(RequestValue(data));
        return STATUS_SUCCESS;
    });
}

// Set: accepted, changes nothing.
NTSTATUS SetNothing(IRP* irp, void* property, void* data);

}  // namespace bayercam
