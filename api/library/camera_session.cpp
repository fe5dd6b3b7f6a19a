#include "api/library/camera_session.h"

#include <algorithm>
#include <cctype>

#include "api/library/simulated_backend.h"
#include "platform/libusb/usb_device_list.h"
#include "platform/registry/registry.h"
#include "platform/usb_stack/usb_bus.h"

namespace bayercam::library {
namespace {

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

bool ParseUsbChoice(const CameraChoice& choice, UsbDeviceSelector* selector, std::string* error) {
    // The first attached camera: a selector that matches any.
    if (choice.kind == CameraChoice::Kind::FirstAttached) return true;
    return ParseUsbDeviceSelector(choice.usbDevice, choice.usbPath, selector, error);
}

}  // namespace

std::string SettingsInstanceId(const UsbDeviceInfo& device) {
    if (!device.serial.empty()) return FolderName("serial-", device.serial);
    return FolderName("path-", device.busPath);
}

bool FindSettingsInstance(const CameraChoice& choice, std::string* instance, std::string* error) {
    if (choice.kind == CameraChoice::Kind::Simulated) {
        *instance = kSimInstanceId;
        return true;
    }
    UsbDeviceSelector selector;
    if (!ParseUsbChoice(choice, &selector, error)) return false;
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

std::unique_ptr<CameraSession> CameraSession::Open(const CameraChoice& choice,
                                                   const SessionOptions& options,
                                                   std::string* error, NTSTATUS* status) {
    NTSTATUS ignored;
    NTSTATUS& why = status ? *status : ignored;
    why = STATUS_INVALID_PARAMETER;
    std::unique_ptr<CameraSession> session(new CameraSession);
    if (!options.usbTrace.empty()) {
        session->trace_ = std::make_unique<UsbmonPcapWriter>();
        std::string reason;
        if (!session->trace_->Open(options.usbTrace, &reason)) {
            *error = "cannot write the USB trace: " + reason;
            why = STATUS_ACCESS_DENIED;
            return nullptr;
        }
    }

    std::unique_ptr<UsbBackend> backend;
    if (choice.kind == CameraChoice::Kind::Simulated) {
        sim::SimCameraOptions simOptions;
        if (choice.simClock) simOptions.clockSelection = static_cast<uint8_t>(*choice.simClock);
        auto simulated =
            SimulatedBackend::Make(choice.simScene, choice.simFps, std::move(simOptions), error);
        if (!simulated) return nullptr;
        session->simulated_ = simulated.get();
        session->instance_ = kSimInstanceId;
        backend = std::move(simulated);
    } else {
        UsbDeviceSelector selector;
        if (!ParseUsbChoice(choice, &selector, error)) return nullptr;
        UsbOpenResult opened = OpenUsbCamera(selector);
        if (!opened.backend) {
            *error = opened.error;
            why = opened.status;
            return nullptr;
        }
        session->usbDevice_ = opened.device;
        session->instance_ = SettingsInstanceId(opened.device);
        backend = std::move(opened.backend);
    }

    // The device's settings are loaded when it starts, from the folder bound to its bus here:
    // the one of the camera actually opened, whatever the choice said to find it.
    UsbmonPcapWriter* trace = session->trace_.get();
    const std::string& instance = session->instance_;
    NTSTATUS bindStatus = STATUS_SUCCESS;
    auto watch = [&](UsbBus& bus) {
        bindStatus = RegistryRegisterDevice(bus.PhysicalDevice(), instance, options.settingsDir);
        if (trace)
            bus.Recorder().SetSink([trace](const BusRecord& record) { trace->Write(record); });
    };
    client::Status opened = client::Camera::Open(std::move(backend), &session->camera_, watch);
    if (!NT_SUCCESS(bindStatus)) {
        *error = std::string("the settings folder name is not usable: ") + NtStatusName(bindStatus);
        return nullptr;
    }
    if (!opened.ok()) {
        *error = opened.message;
        why = opened.code;
        return nullptr;
    }
    why = STATUS_SUCCESS;
    return session;
}

bool CameraSession::Connected() {
    return (camera_->Backend().PortStatus() & USBD_PORT_CONNECTED) != 0;
}

bool CameraSession::Close(std::string* error) {
    if (camera_) {
        camera_->Remove();
        RegistryUnregisterDevice(camera_->Bus().PhysicalDevice());
        camera_.reset();
    }
    simulated_ = nullptr;
    if (!trace_) return true;
    const bool written = trace_->Close();
    trace_.reset();
    if (!written) *error = "the USB trace could not be written completely";
    return written;
}

CameraSession::~CameraSession() {
    std::string ignored;
    Close(&ignored);
}

}  // namespace bayercam::library
