#include "tools/device_session.h"

#include <cstdio>

#include "core/device_lifecycle.h"
#include "platform/ks_device.h"
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
    session->backend_ = std::move(simulated);
    session->bus_ = std::make_unique<UsbBus>(*session->backend_);
    if (!global.usbTrace.empty()) {
        session->trace_ = std::make_unique<UsbmonPcapWriter>();
        std::string why;
        if (!session->trace_->Open(global.usbTrace, &why)) {
            *error = "cannot write the USB trace: " + why;
            return nullptr;
        }
        UsbmonPcapWriter* trace = session->trace_.get();
        session->bus_->Recorder().SetSink(
            [trace](const BusRecord& record) { trace->Write(record); });
    }

    // The device's settings are loaded when it starts.
    UseSettingsDir(global);
    NTSTATUS status =
        RegistryRegisterDevice(session->bus_->PhysicalDevice(), SettingsInstanceId(global));
    if (!NT_SUCCESS(status)) {
        *error = std::string("the settings folder name is not usable: ") + NtStatusName(status);
        return nullptr;
    }
    status = DriverEntry(&session->driver_, "bayercam");
    if (NT_SUCCESS(status)) {
        status =
            KsPnpAddDevice(&session->driver_, session->bus_->PhysicalDevice(), &session->device_);
    }
    if (!NT_SUCCESS(status)) {
        *error = std::string("the device could not be added: ") + NtStatusName(status);
        return nullptr;
    }
    session->startStatus_ = KsPnpStartDevice(session->device_);
    return session;
}

DeviceSession::~DeviceSession() {
    if (device_) KsPnpRemoveDevice(device_);
    if (bus_) RegistryUnregisterDevice(bus_->PhysicalDevice());
    bus_.reset();
    imageStream_.reset();
    backend_.reset();
    if (trace_ && !trace_->Close()) {
        std::fprintf(stderr, "bayercam: the USB trace could not be written completely\n");
    }
}

}  // namespace bayercam::tool
