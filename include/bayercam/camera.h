// Opening a camera the way the system brings one into service: a USB device (the simulated
// camera or a real one) on the bus, the driver loaded over it, the device added and started.
// Its capture filter is then opened like any streaming filter (bayercam/client.h).
//
//     auto backend = std::make_unique<bayercam::sim::SimCamera>(options);
//     std::unique_ptr<bayercam::client::Camera> camera;
//     bayercam::client::Camera::Open(std::move(backend), &camera);
//     bayercam::client::Filter filter;
//     camera->OpenFilter(&filter);
#pragma once

#include <functional>
#include <memory>

#include "bayercam/client.h"
#include "platform/ks/ks.h"
#include "platform/usb_stack/usb_backend.h"

namespace bayercam {
class UsbBus;
struct CameraDevice;
}  // namespace bayercam

namespace bayercam::client {

class Camera {
  public:
    // Puts `backend` on a bus, loads the driver and adds and starts the device. `watchBus`, if
    // given, sees the bus before the driver does (to follow its traffic from the first
    // request). A start that fails still leaves a camera (see StartStatus); only a device that
    // cannot be added is an error, and then `*camera` is null.
    static Status Open(std::unique_ptr<UsbBackend> backend, std::unique_ptr<Camera>* camera,
                       const std::function<void(UsbBus&)>& watchBus = nullptr);
    // Removes the device, then releases the bus and the USB device. Filters of the camera must
    // be closed first.
    ~Camera();
    // Stops and removes the device now, keeping the bus and the USB device; for callers with
    // something of their own on the USB device to let go of first.
    void Remove();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // The capture filter, "GLOBAL" among the device's filter factories.
    Status OpenFilter(Filter* filter);

    NTSTATUS StartStatus() const { return startStatus_; }
    KSDEVICE* Device() const { return device_; }
    // The driver's record of the camera.
    CameraDevice* Record() const;
    UsbBus& Bus() const { return *bus_; }
    UsbBackend& Backend() const { return *backend_; }

  private:
    Camera() = default;

    std::unique_ptr<UsbBackend> backend_;
    std::unique_ptr<UsbBus> bus_;
    DRIVER_OBJECT driver_{};
    KSDEVICE* device_ = nullptr;
    NTSTATUS startStatus_ = STATUS_UNSUCCESSFUL;
};

// Opens the filter whose factory on `device` has the reference string `reference`.
// STATUS_OBJECT_NAME_NOT_FOUND when the device has no such factory (it is not started).
Status OpenFilterByReference(KSDEVICE& device, const char* reference, Filter* filter);

}  // namespace bayercam::client
