// A camera brought into service the way the system does it: the USB device (the simulated camera
// or a real one) on a bus, its settings folder bound, the driver loaded, the device added and
// started. The session owns the USB device, the bus and the simulated camera's images, and lets
// go of them in one order.
#pragma once

#include <memory>
#include <string>

#include "api/library/selector.h"
#include "bayercam/camera.h"
#include "core/camera_device.h"
#include "platform/libusb/usb_device_selection.h"
#include "platform/usb_stack/usbmon_pcap.h"

namespace bayercam::library {

class SimulatedBackend;

// The instance folder of the simulated camera's settings below the settings root.
inline constexpr const char* kSimInstanceId = "sim";

// The instance folder of a real camera's settings: from its serial number when it has one, so the
// settings follow the camera from socket to socket, else from its bus path. One folder name.
std::string SettingsInstanceId(const UsbDeviceInfo& device);

// The instance folder of the camera `choice` names, without taking the camera. False with
// `*error` set when the choice is malformed, or the camera is not attached and the choice alone
// does not say which it is.
bool FindSettingsInstance(const CameraChoice& choice, std::string* instance, std::string* error);

struct SessionOptions {
    std::string settingsDir;  // empty: the process's settings root
    std::string usbTrace;     // a usbmon pcap file of every bus transfer, when not empty
};

class CameraSession {
  public:
    // Null with `*error` set (and `*status` the reason, when given) when no camera can be
    // opened. A device that does not start is not such an error: see StartStatus.
    static std::unique_ptr<CameraSession> Open(const CameraChoice& choice,
                                               const SessionOptions& options, std::string* error,
                                               NTSTATUS* status = nullptr);
    // Stops and removes the device, then releases the bus and the USB device, then closes the
    // USB trace. False with `*error` set when the trace could not be written completely. Nothing
    // but the destructor may follow.
    bool Close(std::string* error);
    // Closes as Close does, unless Close was called, and keeps any failure to itself.
    ~CameraSession();
    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;

    NTSTATUS StartStatus() const { return camera_->StartStatus(); }
    KSDEVICE* Device() { return camera_->Device(); }
    CameraDevice* Camera() { return camera_->Record(); }
    UsbBus& Bus() { return camera_->Bus(); }
    client::Camera& Client() { return *camera_; }
    // False once the camera has left the bus (unplugged, or gone after a failed reset).
    bool Connected();
    // The real camera that was opened; empty for the simulated one.
    const UsbDeviceInfo& UsbDevice() const { return usbDevice_; }
    // The folder of this camera's settings below the settings root.
    const std::string& SettingsInstance() const { return instance_; }
    // The simulated camera and its images, or null for real hardware.
    SimulatedBackend* Simulated() { return simulated_; }

  private:
    CameraSession() = default;

    std::unique_ptr<UsbmonPcapWriter> trace_;  // outlives the bus whose traffic it writes
    UsbDeviceInfo usbDevice_;
    std::string instance_;
    SimulatedBackend* simulated_ = nullptr;  // owned by camera_
    std::unique_ptr<client::Camera> camera_;
};

}  // namespace bayercam::library
