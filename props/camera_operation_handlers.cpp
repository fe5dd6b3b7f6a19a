#include "props/camera_operation_handlers.h"

#include <mutex>

#include "camera/camera_controls.h"
#include "camera/camera_geometry.h"
#include "camera/frame_timeout.h"
#include "camera/initialize_camera.h"
#include "camera/register_access.h"
#include "props/property_request.h"

namespace bayercam {

NTSTATUS SetTimeoutProperty(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice* device) {
        SetFrameTimeout(device, static_cast<uint32_t>(RequestValue(data)));
        return STATUS_SUCCESS;
    });
}

NTSTATUS SetExposureProperty(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice* device) {
        SetExposure(device, static_cast<uint32_t>(RequestValue(data)));
        return STATUS_SUCCESS;
    });
}

NTSTATUS SetGlobalGainProperty(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice* device) {
        SetGlobalGain(device, static_cast<uint32_t>(RequestValue(data)));
        return STATUS_SUCCESS;
    });
}

NTSTATUS SetRegionOfInterest(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice* device) {
        const auto* region = static_cast<const RoiRequest*>(data);
        // Dropped without complaint while a pin holds the geometry.
        SetGeometry(device, region->x, region->y, region->width, region->height);
        return STATUS_SUCCESS;
    });
}

NTSTATUS GetClockProperty(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice* device) {
        AnswerValue(data, ReadClock(device));
        return STATUS_SUCCESS;
    });
}

NTSTATUS SetClockProperty(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice* device) {
        SetClock(device, RequestValue(data));
        return STATUS_SUCCESS;
    });
}

NTSTATUS GetUnreadable(IRP*, void*, void*) {
    return STATUS_UNSUCCESSFUL;
}

// The only property that reports register traffic failures.
NTSTATUS SetSensorRegisterWrite(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice* device) {
        const auto* request = static_cast<const ControlRequest*>(data);
        bool written = WriteSensorRegister(device, static_cast<uint32_t>(request->value),
                                           request->secondValue);
        return written ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
    });
}

NTSTATUS GetRegisterShadow(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice* device) {
        auto index = static_cast<uint32_t>(device->selectedRegister.load());
        int32_t value = 0;
        if (index < kRegisterShadowSize) {
            // Register writes fill the shadow under the command lock.
            std::lock_guard guard(device->commandLock);
            value = device->registerShadow[index];
        }
        AnswerValue(data, value);
        return STATUS_SUCCESS;
    });
}

NTSTATUS SetRawCommand(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice* device) {
        const auto* request = static_cast<const RawCommandRequest*>(data);
        SendRawCommand(device, request->count, request->payload);
        return STATUS_SUCCESS;
    });
}

// The byte goes to the first payload byte; it stays as it was when the read fails.
NTSTATUS GetMemoryByte(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [data](CameraDevice* device) {
        ReadMemoryByte(device, static_cast<RawCommandRequest*>(data)->payload);
        return STATUS_SUCCESS;
    });
}

NTSTATUS SetReinitialize(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [](CameraDevice* device) {
        InitializeCamera(device);
        return STATUS_SUCCESS;
    });
}

}  // namespace bayercam
