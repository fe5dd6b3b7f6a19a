#include "tools/device_session.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/libusb/usb_device_list.h"
#include "platform/registry/registry.h"
#include "simcam/image_stream.h"
#include "simcam/sim_camera.h"
#include "tools/command_outcome.h"

namespace bayercam::tool {
namespace {

// Every session sees the same chart, so runs can be compared.
constexpr uint64_t kSimSceneSeed = 1;
// Well below the store's limit for a folder name; serial numbers are far shorter.
constexpr size_t kMaxInstanceId = 128;

// `prefix` + `text` as one portable folder name: anything but letters, digits, '-', '_' and '.'
// becomes '_'. The prefix keeps it from starting with '.' and from meeting kSimInstanceId.
std::string FolderName(const char* prefix, const std::string& text) {
    std::string name = prefix + text;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            c = '_';
    }
    name.resize(std::min(name.size(), kMaxInstanceId));
    return name;
}

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

std::string SettingsInstanceId(const UsbDeviceInfo& device) {
    if (!device.serial.empty()) return FolderName("serial-", device.serial);
    return FolderName("path-", device.busPath);
}

bool FindSettingsInstance(const GlobalOptions& global, std::string* instance, std::string* error) {
    if (!RealCameraNamed(global)) {
        *instance = kSimInstanceId;
        return true;
    }
    UsbDeviceSelector selector;
    if (!ParseSelector(global, &selector, error)) return false;
    for (const UsbDeviceInfo& device : ListUsbCameras().devices) {
        if (MatchesUsbDevice(selector, device)) {
            *instance = SettingsInstanceId(device);
            return true;
        }
    }
    // A serial number names the folder by itself; ids or a socket need the camera to be there.
    if (!selector.serial.empty()) {
        UsbDeviceInfo named;
        named.serial = selector.serial;
        *instance = SettingsInstanceId(named);
        return true;
    }
    *error =
        "the camera is not attached, so its settings cannot be found: attach it or name it by "
        "serial number (--usb VID:PID:SERIAL)";
    return false;
}

void UseSettingsDir(const GlobalOptions& global) {
    RegistrySetSettingsRoot(global.settingsDir);
}

std::unique_ptr<UsbBackend> DeviceSession::OpenSimulated(const GlobalOptions& global,
                                                         std::string* error) {
    std::unique_ptr<sim::Scene> scene = sim::MakeScene(global.simScene, kSimSceneSeed, error);
    if (!scene) return nullptr;
    sim::SimCameraOptions options;
    if (global.simClock) options.clockSelection = static_cast<uint8_t>(*global.simClock);
    auto simulated = std::make_unique<sim::SimCamera>(std::move(options));
    imageStream_ =
        std::make_unique<sim::SimImageStream>(*simulated, std::move(scene), global.simFps);
    simulated_ = simulated.get();
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
    // Nothing fails between here and the hand-over to the camera: the simulated camera's image
    // side must not outlive it.
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
    // The image side hangs on the simulated camera: it goes once the device is gone, before the
    // camera does.
    if (camera_) camera_->Remove();
    if (camera_) RegistryUnregisterDevice(camera_->Bus().PhysicalDevice());
    imageStream_.reset();
    camera_.reset();
    if (trace_ && !trace_->Close())
        ReportLateFailure("the USB trace could not be written completely");
}

}  // namespace bayercam::tool
