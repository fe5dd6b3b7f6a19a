#include "platform/libusb/usb_device_selection.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

namespace bayercam {
namespace {

constexpr size_t kMaxHubDepth = 7;  // USB allows at most seven tiers below the root

bool ParseHexId(std::string_view text, uint16_t* id) {
    if (text.empty() || text.size() > 4) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *id, 16);
    return ec == std::errc() && end == text.data() + text.size();
}

// A decimal number 1..255; lsusb prints bus numbers with leading zeros, so those are accepted.
bool ParseSmallNumber(std::string_view text, uint8_t* value) {
    if (text.empty() || text.size() > 3) return false;
    unsigned parsed = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed, 10);
    if (ec != std::errc() || end != text.data() + text.size() || parsed == 0 || parsed > 255)
        return false;
    *value = static_cast<uint8_t>(parsed);
    return true;
}

bool ParseIds(std::string_view usb, UsbDeviceSelector* selector, std::string* error) {
    const std::string quoted = "--usb \"" + std::string(usb) + "\": ";
    size_t first = usb.find(':');
    size_t second = first == std::string_view::npos ? first : usb.find(':', first + 1);
    std::string_view vid = usb.substr(0, first);
    std::string_view pid = first == std::string_view::npos
                               ? std::string_view()
                               : usb.substr(first + 1, second - first - 1);
    if (!ParseHexId(vid, &selector->vendorId) || !ParseHexId(pid, &selector->productId)) {
        *error = quoted +
                 "expected VID:PID or VID:PID:SERIAL with hexadecimal ids, e.g. 1209:0001 "
                 "(bayercam list or lsusb shows them)";
        return false;
    }
    if (second != std::string_view::npos) {
        // Everything after the second colon is the serial, colons included.
        selector->serial = std::string(usb.substr(second + 1));
        if (selector->serial.empty()) {
            *error = quoted + "the serial number after the second colon is empty";
            return false;
        }
    }
    selector->byIds = true;
    return true;
}

bool ParsePath(std::string_view path, UsbDeviceSelector* selector, std::string* error) {
    size_t dash = path.find('-');
    uint8_t bus = 0;
    std::vector<uint8_t> ports;
    bool ok = dash != std::string_view::npos && ParseSmallNumber(path.substr(0, dash), &bus);
    for (size_t start = dash + 1; ok;) {
        size_t dot = path.find('.', start);
        uint8_t port = 0;
        ok =
            ParseSmallNumber(path.substr(start, dot - start), &port) && ports.size() < kMaxHubDepth;
        ports.push_back(port);
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    if (!ok) {
        *error = "--usb-path \"" + std::string(path) +
                 "\": expected BUS-PORT[.PORT]... with decimal numbers from 1 to 255, e.g. 1-3.1 "
                 "(bayercam list shows them)";
        return false;
    }
    selector->busPath = FormatBusPath(bus, ports);
    return true;
}

const char* AccessWord(UsbDeviceAccess access) {
    switch (access) {
        case UsbDeviceAccess::Openable:
            return "openable";
        case UsbDeviceAccess::PermissionDenied:
            return "permission denied";
        case UsbDeviceAccess::Busy:
            return "busy";
        case UsbDeviceAccess::Unavailable:
            return "unavailable";
    }
    return "unavailable";
}

}  // namespace

bool ParseUsbDeviceSelector(std::string_view usb, std::string_view usbPath,
                            UsbDeviceSelector* selector, std::string* error) {
    *selector = UsbDeviceSelector();
    if (usb.empty() && usbPath.empty()) {
        *error =
            "no USB device chosen: give --usb VID:PID[:SERIAL] or --usb-path BUS-PORTS "
            "(bayercam list shows the cameras attached)";
        return false;
    }
    if (!usb.empty() && !ParseIds(usb, selector, error)) return false;
    if (!usbPath.empty() && !ParsePath(usbPath, selector, error)) return false;
    return true;
}

bool MatchesUsbDevice(const UsbDeviceSelector& selector, const UsbDeviceInfo& device) {
    if (selector.byIds &&
        (selector.vendorId != device.vendorId || selector.productId != device.productId))
        return false;
    if (!selector.serial.empty() && selector.serial != device.serial) return false;
    if (!selector.busPath.empty() && selector.busPath != device.busPath) return false;
    return true;
}

std::string FormatBusPath(uint8_t bus, std::span<const uint8_t> ports) {
    if (ports.empty()) return "usb" + std::to_string(bus);
    std::string path = std::to_string(bus);
    char separator = '-';
    for (uint8_t port : ports) {
        path += separator;
        path += std::to_string(port);
        separator = '.';
    }
    return path;
}

bool HasCameraShape(std::span<const USB_ENDPOINT_DESCRIPTOR> interfaceEndpoints) {
    if (interfaceEndpoints.size() < 3) return false;
    const bool wantIn[3] = {false, true, true};
    for (size_t i = 0; i < 3; ++i) {
        const USB_ENDPOINT_DESCRIPTOR& endpoint = interfaceEndpoints[i];
        uint8_t type = endpoint.bmAttributes & 0x03;
        if (type != UsbdPipeTypeBulk && type != UsbdPipeTypeInterrupt) return false;
        if (((endpoint.bEndpointAddress & 0x80) != 0) != wantIn[i]) return false;
    }
    return true;
}

std::string UsbAccessAdvice(const UsbDeviceInfo& device) {
    switch (device.access) {
        case UsbDeviceAccess::Openable:
            return "";
        case UsbDeviceAccess::PermissionDenied:
            return "permission denied on " + device.node + ": " + kUdevRuleHint +
                   ", then replug the camera";
        case UsbDeviceAccess::Busy:
            return "interface 0 is claimed by another driver or process; close the other "
                   "program or unbind the kernel driver";
        case UsbDeviceAccess::Unavailable:
            return "cannot be opened: " + device.problem;
    }
    return "";
}

std::string DescribeUsbDevice(const UsbDeviceInfo& device) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", device.vendorId, device.productId);
    std::string line = device.busPath;
    line.resize(std::max<size_t>(line.size() + 1, 12), ' ');
    line += ids;
    line += "  ";
    std::string serial = device.serial.empty() ? "-" : device.serial;
    serial.resize(std::max<size_t>(serial.size() + 1, 18), ' ');
    line += serial;
    line += AccessWord(device.access);
    if (device.access != UsbDeviceAccess::Openable) line += " (" + UsbAccessAdvice(device) + ")";
    return line;
}

}  // namespace bayercam
