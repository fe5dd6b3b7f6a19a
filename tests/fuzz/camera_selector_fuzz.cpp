// The strings that choose a camera on the bus ("VID:PID[:SERIAL]" and "BUS-PORT[.PORT]..."),
// split at the input's first zero byte. What parses must match the device it describes.
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_target.h"
#include "platform/libusb/usb_device_selection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bayercam;
    // Each string in a buffer of its own exact size: an overread lands in a redzone.
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t split = std::min(input.find('\0'), input.size());
    const std::string usb(input.substr(0, split));
    const std::string usbPath(split < input.size() ? input.substr(split + 1) : std::string_view());
    UsbDeviceSelector selector;
    std::string error;
    if (!ParseUsbDeviceSelector(usb, usbPath, &selector, &error)) {
        if (error.empty()) std::abort();  // a refusal says why
        return 0;
    }
    UsbDeviceInfo described;
    described.vendorId = selector.vendorId;
    described.productId = selector.productId;
    described.serial = selector.serial;
    described.busPath = selector.busPath;
    if (!MatchesUsbDevice(selector, described)) std::abort();
    return 0;
}
