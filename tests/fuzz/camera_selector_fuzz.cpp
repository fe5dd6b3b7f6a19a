// The strings that choose a camera: the library's selector ("sim:...", "usb:VID:PID[:SERIAL]",
// "usb-path:...") over the whole input, and the tool's --usb and --usb-path strings, split at
// the input's first zero byte. A refusal says why; an accepted simulated camera has a usable
// frame rate; an accepted USB choice matches the device it describes.
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

#include "api/library/selector.h"
#include "fuzz/fuzz_target.h"
#include "platform/libusb/usb_device_selection.h"

namespace {

using namespace bayercam;

void CheckLibrarySelector(const std::string& text) {
    library::CameraChoice choice;
    std::string error;
    if (!library::ParseCameraSelector(text.c_str(), &choice, &error)) {
        if (error.empty()) std::abort();
        return;
    }
    if (choice.kind == library::CameraChoice::Kind::Simulated &&
        (!std::isfinite(choice.simFps) || choice.simFps < 0)) {
        std::abort();
    }
}

void CheckUsbSelector(const std::string& usb, const std::string& usbPath) {
    UsbDeviceSelector selector;
    std::string error;
    if (!ParseUsbDeviceSelector(usb, usbPath, &selector, &error)) {
        if (error.empty()) std::abort();
        return;
    }
    UsbDeviceInfo described;
    described.vendorId = selector.vendorId;
    described.productId = selector.productId;
    described.serial = selector.serial;
    described.busPath = selector.busPath;
    if (!MatchesUsbDevice(selector, described)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Each string in a buffer of its own exact size: an overread lands in a redzone.
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t split = std::min(input.find('\0'), input.size());
    const std::string first(input.substr(0, split));
    CheckLibrarySelector(first);
    CheckUsbSelector(first, split < input.size() ? std::string(input.substr(split + 1)) : "");
    return 0;
}
