#include "tools/device_session.h"

#include <cstdio>

#include "platform/registry.h"
#include "simcam/image_stream.h"
#include "simcam/sim_camera.h"

namespace bayercam::tool {
namespace {

// Every session sees the same chart, so runs can be compared.
constexpr uint64_t kSimSceneSeed = 1;

}  // namespace

std::string SettingsInstanceId(const GlobalOptions& global) {
    std::string id;
    if (!global.sim && !global.usbDevice.empty())
        id = "usb-" + global.usbDevice;
    else if (!global.sim && !global.usbPath.empty())
        id = "usb-path-" + global.usbPath;
    else
        return "sim";
    // One folder name: no separators.
    for (char& c : id) {
        if (c == ':' || c == '/' || c == '\\' || c < 0x21 || c > 0x7E) c = '-';
    }
    return id;
}

void UseSettingsDir(const GlobalOptions& global) {
    RegistrySetSettingsRoot(global.settingsDir);
}

std::unique_ptr<DeviceSession> DeviceSession::Open(const GlobalOptions& global,
                                                   std::string* error) {
    if (!global.sim) {
        *error =
            "no camera backend for real hardware is available; use --sim for the "
            "simulated camera";
        return nullptr;
    }
    std::unique_ptr<sim::Scene> scene = sim::MakeScene(global.simScene, kSimSceneSeed, error);
    if (!scene) return nullptr;
    std::unique_ptr<DeviceSession> session(new DeviceSession);
    sim::SimCameraOptions options;
    if (global.simClock) options.clockSelection = static_cast<uint8_t>(*global.simClock);
    auto simulated = std::make_unique<sim::SimCamera>(std::move(options));
    session->imageStream_ =
        std::make_unique<sim::SimImageStream>(*simulated, std::move(scene), global.simFps);
    session->simulated_ = simulated.get();
    if (!global.usbTrace.empty()) {
        session->trace_ = std::make_unique<UsbmonPcapWriter>();
        std::string why;
        if (!session->trace_->Open(global.usbTrace, &why)) {
            *error = "cannot write the USB trace: " + why;
            return nullptr;
        }
    }
    UsbmonPcapWriter* trace = session->trace_.get();
    // The device's settings are loaded when it starts: its device object is bound to its
    // settings folder before the driver sees it.
    UseSettingsDir(global);
    std::string instance = SettingsInstanceId(global);
    DeviceSession* opening = session.get();
    auto watch = [trace, instance, opening](UsbBus& bus) {
        if (trace)
            bus.Recorder().SetSink([trace](const BusRecord& record) { trace->Write(record); });
        if (NT_SUCCESS(RegistryRegisterDevice(bus.PhysicalDevice(), instance)))
            opening->settingsDevice_ = bus.PhysicalDevice();
    };
    client::Status status = client::Camera::Open(std::move(simulated), &session->camera_, watch);
    if (!status.ok()) {
        *error = status.message;
        return nullptr;
    }
    return session;
}

DeviceSession::~DeviceSession() {
    // The image side hangs on the simulated camera: it goes once the device is gone, before the
    // camera does.
    if (camera_) camera_->Remove();
    if (settingsDevice_) RegistryUnregisterDevice(settingsDevice_);
    imageStream_.reset();
    camera_.reset();
    if (trace_ && !trace_->Close()) {
        std::fprintf(stderr, "bayercam: the USB trace could not be written completely\n");
    }
}

}  // namespace bayercam::tool
