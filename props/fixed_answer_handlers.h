// Handlers of the properties that report a constant: the ranges and defaults of their
// neighbouring settings, the sensor size and the reserved ids.
#pragma once

#include "props/property_request.h"

namespace bayercam {

// Get: `Value`, once the request's device is found.
template <int32_t Value>
NTSTATUS GetFixedAnswer(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice*) {
        AnswerValue(data, Value);
        return STATUS_SUCCESS;
    });
}

// Get: `Value`, without looking anything up (the colour and image setting ranges).
template <int32_t Value>
NTSTATUS GetRangeAnswer(IRP*, void*, void* data) {
    if (!data) return STATUS_UNSUCCESSFUL;
    AnswerValue(data, Value);
    return STATUS_SUCCESS;
}

}  // namespace bayercam
