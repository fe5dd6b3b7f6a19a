// Finding the camera on the bus and opening it through libusb.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/ntstatus.h"
#include "platform/libusb/usb_device_selection.h"
#include "platform/usb_stack/usb_backend.h"

namespace bayercam {

struct UsbCameraList {
    std::vector<UsbDeviceInfo> devices;  // every device with the camera's shape, by bus path
    std::string error;                   // set when USB cannot be reached at all
};

// Looks at every attached device; each one with the camera's shape is opened briefly to read its
// serial number and to learn whether its interface 0 can be claimed.
UsbCameraList ListUsbCameras();

struct UsbOpenResult {
    std::unique_ptr<UsbBackend> backend;  // null when the open failed
    UsbDeviceInfo device;                 // the device chosen, when there was one
    // STATUS_SUCCESS, STATUS_NOT_FOUND (nothing matches), STATUS_NOT_SUPPORTED (a match without
    // the camera's shape), STATUS_ACCESS_DENIED, STATUS_DEVICE_BUSY, STATUS_DEVICE_NOT_CONNECTED
    // (no USB here) or STATUS_UNSUCCESSFUL.
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    std::string error;  // what went wrong and what to do about it
};

// Opens the first device, in bus-path order, that matches `selector` and has the camera's shape.
UsbOpenResult OpenUsbCamera(const UsbDeviceSelector& selector);

}  // namespace bayercam
