// Which USB device the user means: the --usb and --usb-path selectors, what a device on the bus
// looks like to them, and whether it has the camera's endpoints. No libusb here, so all of it is
// plain logic.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/usb_stack/usb.h"

namespace bayercam {

// What opening a device for the camera's interface gives.
enum class UsbDeviceAccess {
    Openable,
    PermissionDenied,  // the device node is not writable for this user
    Busy,              // interface 0 is claimed by another driver or process
    Unavailable,       // any other failure; see UsbDeviceInfo::problem
};

struct UsbDeviceInfo {
    std::string busPath;  // "1-3.1": bus number, then the hub ports from the root
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string serial;  // empty when the device has none or it cannot be read
    std::string node;    // "/dev/bus/usb/001/005"
    UsbDeviceAccess access = UsbDeviceAccess::Openable;
    std::string problem;  // what failed, for UsbDeviceAccess::Unavailable
};

struct UsbDeviceSelector {
    bool byIds = false;  // vendorId and productId must match
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string serial;   // must match when not empty
    std::string busPath;  // must match when not empty, in the form FormatBusPath gives
};

// Parses `usb` ("VID:PID" or "VID:PID:SERIAL", ids of 1 to 4 hexadecimal digits) and `usbPath`
// ("BUS-PORT[.PORT]...", decimal). Either may be empty, not both; given together, a device must
// match both. Returns false with a message for the user in `error` when the input is malformed.
bool ParseUsbDeviceSelector(std::string_view usb, std::string_view usbPath,
                            UsbDeviceSelector* selector, std::string* error);

bool MatchesUsbDevice(const UsbDeviceSelector& selector, const UsbDeviceInfo& device);

// "1-3.1" for bus 1, port 3 of the root hub, port 1 of the hub behind it; "usb1" for the root
// hub itself (no ports), as sysfs names them.
std::string FormatBusPath(uint8_t bus, std::span<const uint8_t> ports);

// The camera's shape: interface 0 begins with three bulk-or-interrupt endpoints, command OUT,
// response IN and image IN, in that order.
bool HasCameraShape(std::span<const USB_ENDPOINT_DESCRIPTOR> interfaceEndpoints);

// One line of `bayercam list`: path, ids, serial (or -) and whether it can be opened.
std::string DescribeUsbDevice(const UsbDeviceInfo& device);

// What the user can do about a device that cannot be opened; empty when it can.
std::string UsbAccessAdvice(const UsbDeviceInfo& device);

// Where the udev rule that grants access lives, for messages.
inline constexpr const char* kUdevRuleHint =
    "install the udev rule udev/60-bayercam.rules.in as docs/hardware.md describes";

}  // namespace bayercam
