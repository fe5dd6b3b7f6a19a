#include "bayercam/camera.h"

#include <strings.h>

#include "core/camera_device.h"
#include "core/device_lifecycle.h"
#include "platform/ks/ks_device.h"
#include "platform/usb_stack/usb_bus.h"

namespace bayercam::client {
namespace {

constexpr char kCaptureFilterReference[] = "GLOBAL";

Status Failure(NTSTATUS code, const std::string& action) {
    return {code, action + ": " + NtStatusName(code)};
}

}  // namespace

Status Camera::Open(std::unique_ptr<UsbBackend> backend, std::unique_ptr<Camera>* camera,
                    const std::function<void(UsbBus&)>& watchBus) {
    camera->reset();
    std::unique_ptr<Camera> opened(new Camera);
    opened->backend_ = std::move(backend);
    opened->bus_ = std::make_unique<UsbBus>(*opened->backend_);
    if (watchBus) watchBus(*opened->bus_);
    NTSTATUS status = DriverEntry(&opened->driver_, "bayercam");
    if (NT_SUCCESS(status))
        status = KsPnpAddDevice(&opened->driver_, opened->bus_->PhysicalDevice(), &opened->device_);
    if (!NT_SUCCESS(status)) return Failure(status, "add the camera");
    opened->startStatus_ = KsPnpStartDevice(opened->device_);
    *camera = std::move(opened);
    return {};
}

Camera::~Camera() {
    Remove();
    bus_.reset();
    backend_.reset();
}

void Camera::Remove() {
    if (device_) KsPnpRemoveDevice(device_);
    device_ = nullptr;
}

CameraDevice* Camera::Record() const {
    return GetCameraDevice(device_);
}

Status Camera::OpenFilter(Filter* filter) {
    if (!device_)
        return {STATUS_INVALID_DEVICE_STATE, "open the capture filter: the camera is removed"};
    return OpenFilterByReference(*device_, kCaptureFilterReference, filter);
}

Status OpenFilterByReference(KSDEVICE& device, const char* reference, Filter* filter) {
    for (KSFILTERFACTORY* factory = KsDeviceGetFirstChildFilterFactory(&device); factory;
         factory = KsFilterFactoryGetNextSiblingFilterFactory(factory)) {
        if (strcasecmp(factory->RefString, reference) == 0)
            return filter->Open(device, *factory->FilterDescriptor);
    }
    return Failure(STATUS_OBJECT_NAME_NOT_FOUND, std::string("open filter \"") + reference + "\"");
}

}  // namespace bayercam::client
