#include "tools/device_session.h"

#include <cstdio>

#include "api/library/simulated_backend.h"
#include "platform/libusb/usb_device_list.h"
#include "platform/registry/registry.h"
#include "tools/command_outcome.h"

namespace bayercam::tool {
namespace {

bool RealCameraNamed(const GlobalOptions& global) {
    return !global.usbDevice.empty() || !global.usbPath.empty();
}

// --sim together with a real camera is a mistake, not a choice.
bool OneCameraChosen(const GlobalOptions& global, std::string* error) {
    if (!global.sim || !RealCameraNamed(global)) return true;
    *error = "--sim and --usb/--usb-path name different cameras: give one of them";
    return false;
}

bool ParseSelector(const GlobalOptions& global, UsbDeviceSelector* selector, std::string* error) {
    if (!OneCameraChosen(global, error)) return false;
    if (ParseUsbDeviceSelector(global.usbDevice, global.usbPath, selector, error)) return true;
    if (!RealCameraNamed(global)) *error += ", or --sim for the simulated camera";
    return false;
}

}  // namespace

bool FindSettingsInstance(const GlobalOptions& global, std::string* instance, std::string* error) {
    if (!RealCameraNamed(global)) {
        *instance = kSimInstanceId;
        return true;
    }
    if (!OneCameraChosen(global, error)) return false;
    library::CameraChoice choice;
    choice.kind = library::CameraChoice::Kind::Usb;
    choice.usbDevice = global.usbDevice;
    choice.usbPath = global.usbPath;
    return library::FindSettingsInstance(choice, instance, error);
}

void UseSettingsDir(const GlobalOptions& global) {
    RegistrySetSettingsRoot(global.settingsDir);
}

std::unique_ptr<UsbBackend> DeviceSession::OpenSimulated(const GlobalOptions& global,
                                                         std::string* error) {
    sim::SimCameraOptions options;
    if (global.simClock) options.clockSelection = static_cast<uint8_t>(*global.simClock);
    auto simulated =
        library::SimulatedBackend::Make(global.simScene, global.simFps, std::move(options), error);
    if (simulated) simulated_ = &simulated->Camera();
    return simulated;
}

std::unique_ptr<UsbBackend> DeviceSession::OpenUsb(const GlobalOptions& global,
                                                   std::string* error) {
    UsbDeviceSelector selector;
    if (!ParseSelector(global, &selector, error)) return nullptr;
    UsbOpenResult opened = OpenUsbCamera(selector);
    if (!opened.backend) {
        *error = opened.error;
        return nullptr;
    }
    usbDevice_ = opened.device;
    return std::move(opened.backend);
}

std::unique_ptr<DeviceSession> DeviceSession::Open(const GlobalOptions& global,
                                                   std::string* error) {
    if (!OneCameraChosen(global, error)) return nullptr;
    std::unique_ptr<DeviceSession> session(new DeviceSession);
    if (!global.usbTrace.empty()) {
        session->trace_ = std::make_unique<UsbmonPcapWriter>();
        std::string why;
        // "-": standard output, which the capture keeps for its trace only when frames go to files.
        const std::string path = global.usbTrace == "-" ? "/dev/stdout" : global.usbTrace;
        if (!session->trace_->Open(path, &why)) {
            *error = "cannot write the USB trace: " + why;
            return nullptr;
        }
    }
    std::unique_ptr<UsbBackend> backend =
        global.sim ? session->OpenSimulated(global, error) : session->OpenUsb(global, error);
    if (!backend) return nullptr;
    // The device's settings are loaded when it starts, from the folder bound to its bus here:
    // the one of the camera actually opened, whatever the options said to find it.
    UseSettingsDir(global);
    UsbmonPcapWriter* trace = session->trace_.get();
    session->instance_ =
        session->simulated_ ? kSimInstanceId : SettingsInstanceId(session->usbDevice_);
    const std::string& instance = session->instance_;
    NTSTATUS bindStatus = STATUS_SUCCESS;
    auto watch = [trace, &instance, &bindStatus](UsbBus& bus) {
        bindStatus = RegistryRegisterDevice(bus.PhysicalDevice(), instance);
        if (trace)
            bus.Recorder().SetSink([trace](const BusRecord& record) { trace->Write(record); });
    };
    client::Status status = client::Camera::Open(std::move(backend), &session->camera_, watch);
    if (!NT_SUCCESS(bindStatus)) {
        *error = std::string("the settings folder name is not usable: ") + NtStatusName(bindStatus);
        return nullptr;
    }
    if (!status.ok()) {
        *error = status.message;
        return nullptr;
    }
    return session;
}

DeviceSession::~DeviceSession() {
    if (camera_) {
        camera_->Remove();
        RegistryUnregisterDevice(camera_->Bus().PhysicalDevice());
    }
    camera_.reset();
    if (trace_ && !trace_->Close())
        ReportLateFailure("the USB trace could not be written completely");
}

}  // namespace bayercam::tool
