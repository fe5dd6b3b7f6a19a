#include "core/device_lifecycle.h"

#include "camera/initialize_camera.h"
#include "core/camera_device.h"
#include "core/capture_context.h"
#include "settings/settings_store.h"
#include "stream/capture_descriptors.h"
#include "usb/usb_configuration.h"

namespace bayercam {
namespace {

constexpr char kFilterReference[] = "GLOBAL";

const KSDEVICE_DISPATCH kDeviceDispatch = {
    &DeviceAdd,    // Add
    &DeviceStart,  // Start
    nullptr,       // PostStart
    nullptr,       // QueryStop
    nullptr,       // CancelStop
    &DeviceStop,   // Stop
    nullptr,       // QueryRemove
    nullptr,       // CancelRemove
    nullptr,       // Remove
    nullptr,       // QueryCapabilities
    nullptr,       // SurpriseRemoval
    nullptr,       // QueryPower
    nullptr,       // SetPower
    nullptr,       // QueryInterface
};

}  // namespace

const KSDEVICE_DESCRIPTOR CameraDeviceDescriptor = {&kDeviceDispatch, 0, nullptr};

NTSTATUS DriverEntry(DRIVER_OBJECT* driverObject, const char* registryPath) {
    return KsInitializeDriver(driverObject, registryPath, &CameraDeviceDescriptor);
}

NTSTATUS DeviceStart(KSDEVICE* ksDevice, IRP*, void*, void*) {
    CameraDevice* device = GetCameraDevice(ksDevice);
    if (!ksDevice->Started) {
        KsAcquireDevice(ksDevice);
        NTSTATUS factory = KsCreateFilterFactory(
            device->usb.functionalDevice, &device->captureDescriptors->filter, kFilterReference,
            nullptr, KSCREATE_ITEM_FREEONSTOP, nullptr, nullptr, nullptr);
        KsReleaseDevice(ksDevice);
        if (NT_SUCCESS(factory) && !ksDevice->Started) {
            device->captureContext = CreateCaptureContext(device);
        }
    }

    // A start without a stop in between still holds the previous configuration's buffers.
    FreeConfiguration(&device->usb);
    NTSTATUS status = ReadDeviceDescriptor(&device->usb);
    if (NT_SUCCESS(status)) status = FetchConfigDescriptor(&device->usb);
    InitializeCamera(device);
    return status;
}

void DeviceStop(KSDEVICE* ksDevice, IRP*) {
    CameraDevice* device = GetCameraDevice(ksDevice);
    SaveSettings(device);
    FreeConfiguration(&device->usb);
    Deconfigure(&device->usb);
}

}  // namespace bayercam
