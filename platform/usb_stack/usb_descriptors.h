// Bounds-checked walking of a configuration descriptor. Descriptors come from the device, so every
// length in them is checked before it is followed: a malformed descriptor ends the walk.
#pragma once

#include <cstdint>

#include "platform/usb_stack/usb.h"

namespace bayercam {

// The most endpoints an interface can have (15 IN and 15 OUT besides endpoint 0).
constexpr int kMaxInterfaceEndpoints = 30;

// The first descriptor after `current` within the configuration's wTotalLength bytes, or null at
// the end or when the next descriptor is malformed. `current` null starts at the configuration
// descriptor itself.
const uint8_t* NextDescriptor(const USB_CONFIGURATION_DESCRIPTOR* config, const uint8_t* current);

// The endpoint descriptors that follow `interfaceDescriptor` up to the next interface descriptor,
// at most `capacity` of them. Returns how many were found.
int InterfaceEndpoints(const USB_CONFIGURATION_DESCRIPTOR* config,
                       const USB_INTERFACE_DESCRIPTOR* interfaceDescriptor,
                       const USB_ENDPOINT_DESCRIPTOR** endpoints, int capacity);

}  // namespace bayercam
