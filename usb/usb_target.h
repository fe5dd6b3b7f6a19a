// The camera's USB identity inside the driver: device objects, configuration, pipes.
#pragma once

#include <cstdint>

#include "platform/usb_stack/usb.h"

namespace bayercam {

struct UsbTarget {
    DEVICE_OBJECT* physicalDevice;                   // opens the device's settings store
    DEVICE_OBJECT* lowerDevice;                      // target of every USB request
    DEVICE_OBJECT* functionalDevice;                 // owns the filter factory
    USB_CONFIGURATION_DESCRIPTOR* configDescriptor;  // wTotalLength bytes, owned
    USBD_INTERFACE_INFORMATION* interfaceInfo;       // first interface, its own Length bytes, owned
    uint8_t* pipeAbortMarks;                         // one byte per pipe, owned
};

// Pipe indexes fixed by the camera protocol.
constexpr uint32_t kCommandPipe = 0;
constexpr uint32_t kResponsePipe = 1;
constexpr uint32_t kImagePipe = 2;

}  // namespace bayercam
