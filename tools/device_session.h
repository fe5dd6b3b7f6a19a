// Opens the camera that the global options choose, the way the system would: the USB bus with
// the camera on it, the driver loaded, the device added and started through the class driver.
#pragma once

#include <memory>
#include <string>

#include "api/library/camera_session.h"
#include "bayercam/camera.h"
#include "core/camera_device.h"
#include "platform/ks/ks.h"
#include "platform/libusb/usb_device_selection.h"
#include "platform/usb_stack/usb_bus.h"
#include "platform/usb_stack/usbmon_pcap.h"
#include "tools/command.h"

namespace bayercam::sim {
class SimCamera;
}  // namespace bayercam::sim

namespace bayercam::tool {

// One rule for the settings folders, so the tool and every application share a camera's settings.
using library::kSimInstanceId;
using library::SettingsInstanceId;

// The instance folder of the camera the global options choose, without taking the camera:
// kSimInstanceId when no real camera is named. False with `*error` set when the options are
// malformed, or the camera named is not attached and the choice alone does not say which it is.
bool FindSettingsInstance(const GlobalOptions& global, std::string* instance, std::string* error);

// Points the settings store at --settings-dir (or its default).
void UseSettingsDir(const GlobalOptions& global);

class DeviceSession {
  public:
    // Null with `*error` set when no camera can be opened (the device's start status is not
    // such an error: see StartStatus).
    static std::unique_ptr<DeviceSession> Open(const GlobalOptions& global, std::string* error);
    // Stops and removes the device, then releases the bus and the camera, then closes the USB
    // trace.
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    NTSTATUS StartStatus() const { return camera_->StartStatus(); }
    KSDEVICE* Device() { return camera_->Device(); }
    CameraDevice* Camera() { return camera_->Record(); }
    UsbBus& Bus() { return camera_->Bus(); }
    client::Camera& Client() { return *camera_; }
    // False once the camera has left the bus (unplugged, or gone after a failed reset).
    bool Connected() { return (camera_->Backend().PortStatus() & USBD_PORT_CONNECTED) != 0; }
    // The real camera that was opened; empty for the simulated one.
    const UsbDeviceInfo& UsbDevice() const { return usbDevice_; }
    // The folder of this camera's settings below the settings root.
    const std::string& SettingsInstance() const { return instance_; }
    // The simulated camera, or null for real hardware.
    sim::SimCamera* Simulated() { return simulated_; }

  private:
    DeviceSession() = default;
    // The backends the options choose; null with `*error` set when there is none.
    std::unique_ptr<UsbBackend> OpenSimulated(const GlobalOptions& global, std::string* error);
    std::unique_ptr<UsbBackend> OpenUsb(const GlobalOptions& global, std::string* error);

    std::unique_ptr<UsbmonPcapWriter> trace_;  // outlives the bus whose traffic it writes
    UsbDeviceInfo usbDevice_;
    std::string instance_;
    sim::SimCamera* simulated_ = nullptr;
    std::unique_ptr<client::Camera> camera_;  // owns the USB device, images and all
};

}  // namespace bayercam::tool
