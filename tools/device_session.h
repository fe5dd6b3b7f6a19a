// Opens the camera that the global options choose, the way the system would: the USB bus with
// the camera on it, the driver loaded, the device added and started through the class driver.
#pragma once

#include <memory>
#include <string>

#include "bayercam/camera.h"
#include "core/camera_device.h"
#include "platform/ks.h"
#include "platform/usb_bus.h"
#include "platform/usbmon_pcap.h"
#include "tools/command.h"

namespace bayercam::sim {
class SimCamera;
class SimImageStream;
}  // namespace bayercam::sim

namespace bayercam::tool {

// The instance folder of the camera's settings below the settings root: "sim" for the simulated
// camera and when no real camera is named, else one per --usb or --usb-path choice.
std::string SettingsInstanceId(const GlobalOptions& global);

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
    // The simulated camera, or null for real hardware.
    sim::SimCamera* Simulated() { return simulated_; }
    // The simulated camera's image side, or null for real hardware.
    sim::SimImageStream* SimulatedImages() { return imageStream_.get(); }

  private:
    DeviceSession() = default;

    std::unique_ptr<UsbmonPcapWriter> trace_;  // outlives the bus whose traffic it writes
    sim::SimCamera* simulated_ = nullptr;
    std::unique_ptr<client::Camera> camera_;
    std::unique_ptr<sim::SimImageStream> imageStream_;  // attached to `simulated_`
    DEVICE_OBJECT* settingsDevice_ = nullptr;           // bound to the settings instance folder
};

}  // namespace bayercam::tool
