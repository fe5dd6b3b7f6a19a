// Control requests on a libusb device, completed by the process's event thread. libusb's own
// synchronous calls would run the event loop in the caller's thread as well; this way every
// completion happens on the one event thread, and the wait is ours.
#pragma once

#include <libusb.h>

#include <cstdint>
#include <string>

#include "platform/usb_stack/usb.h"

namespace bayercam {

// A device has 5 s to answer a standard request with a data stage (USB 2.0, 9.2.6.4).
constexpr unsigned kStandardRequestTimeoutMs = 5000;

// Sends `setup` and moves its wLength bytes of `data` in the direction bit 7 of bmRequestType
// gives. Returns the bytes moved or a libusb error code. Needs a LibusbContext alive (its event
// thread) and must not be called on that thread.
int LibusbControlTransfer(libusb_device_handle* handle, const USB_SETUP_PACKET& setup,
                          uint8_t* data, unsigned timeoutMs);

// String descriptor `index` in the device's first language, in ASCII ('?' for anything else);
// empty when there is none or it cannot be read.
std::string LibusbStringDescriptor(libusb_device_handle* handle, uint8_t index);

}  // namespace bayercam
