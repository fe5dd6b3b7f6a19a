// Reading the camera's descriptors, selecting its configuration and releasing it.
#pragma once

#include "platform/kernel/ntstatus.h"
#include "usb/usb_target.h"

namespace bayercam {

// Sends one URB to the lower device and waits for it without a time-out. The URB's own USB
// status is left for the caller to examine.
NTSTATUS SubmitUrbSync(UsbTarget* usb, URB* urb);

// Reads the 18-byte device descriptor; its content is not kept.
NTSTATUS ReadDeviceDescriptor(UsbTarget* usb);
// Reads the whole configuration descriptor into `configDescriptor` and selects it.
NTSTATUS FetchConfigDescriptor(UsbTarget* usb);
// Selects the configuration and keeps a copy of its first interface and the pipe abort marks.
NTSTATUS SelectConfiguration(UsbTarget* usb, USB_CONFIGURATION_DESCRIPTOR* config);
// Unconfigures the device; the status is not reported.
void Deconfigure(UsbTarget* usb);
// Frees the configuration descriptor, the interface copy and the abort marks.
void FreeConfiguration(UsbTarget* usb);

}  // namespace bayercam
