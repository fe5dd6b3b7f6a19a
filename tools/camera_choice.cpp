#include "tools/camera_choice.h"

#include "platform/libusb/usb_device_selection.h"

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

}  // namespace

bool ChooseCamera(const GlobalOptions& global, library::CameraChoice* choice, std::string* error) {
    if (!OneCameraChosen(global, error)) return false;
    *choice = {};
    if (global.sim) {
        choice->kind = library::CameraChoice::Kind::Simulated;
        choice->simScene = global.simScene;
        choice->simFps = global.simFps;
        choice->simClock = global.simClock;
        return true;
    }
    // The tool takes no camera it was not told of: the selector must name one.
    UsbDeviceSelector selector;
    if (!ParseUsbDeviceSelector(global.usbDevice, global.usbPath, &selector, error)) {
        if (!RealCameraNamed(global)) *error += ", or --sim for the simulated camera";
        return false;
    }
    choice->kind = library::CameraChoice::Kind::Usb;
    choice->usbDevice = global.usbDevice;
    choice->usbPath = global.usbPath;
    return true;
}

library::SessionOptions SessionOptionsOf(const GlobalOptions& global) {
    // "-": standard output, which the capture keeps for its trace only when frames go to files.
    return {global.settingsDir, global.usbTrace == "-" ? "/dev/stdout" : global.usbTrace};
}

bool FindSettingsInstance(const GlobalOptions& global, std::string* instance, std::string* error) {
    if (!RealCameraNamed(global)) {
        *instance = library::kSimInstanceId;
        return true;
    }
    library::CameraChoice choice;
    return ChooseCamera(global, &choice, error) &&
           library::FindSettingsInstance(choice, instance, error);
}

}  // namespace bayercam::tool
