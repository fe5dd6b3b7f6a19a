// The streaming class driver's device object and the Plug and Play calls it turns into the
// minidriver's Add, Start and Stop: what tests and tools use to bring a camera into service.
#pragma once

#include <cstdint>

#include "platform/kernel/irp.h"
#include "platform/ks/ks.h"

namespace bayercam {

constexpr int kMaxRefStringLength = 63;

// A filter factory registered on a device; filters are created from it by reference string.
struct KSFILTERFACTORY {
    const KSFILTER_DESCRIPTOR* FilterDescriptor;
    KSDEVICE* Device;
    uint32_t CreateItemFlags;
    char RefString[kMaxRefStringLength + 1];
    KSFILTERFACTORY* Next;  // the device's next factory, in creation order
};

// The factories of a device, oldest first (null when there are none).
KSFILTERFACTORY* KsDeviceGetFirstChildFilterFactory(KSDEVICE* device);
KSFILTERFACTORY* KsFilterFactoryGetNextSiblingFilterFactory(KSFILTERFACTORY* factory);

// The KSDEVICE whose functional device object is `deviceObject`, or null.
KSDEVICE* KsGetDeviceForDeviceObject(DEVICE_OBJECT* deviceObject);

// ---- The class driver's side of Plug and Play ----

// Creates the functional device object over `physicalDevice` (the top of the device stack, which
// becomes the next-lower device), the KSDEVICE and its object bag, then calls the minidriver's Add.
// On failure everything is undone and `*device` is null.
NTSTATUS KsPnpAddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* physicalDevice, KSDEVICE** device);
// Calls the minidriver's Start with a start request; the device is marked started when it
// succeeds. A start on a started device is passed on as it is.
NTSTATUS KsPnpStartDevice(KSDEVICE* device);
// Calls the minidriver's Stop, removes the factories created with KSCREATE_ITEM_FREEONSTOP and
// clears the started mark. Does nothing when no start has been made since the last stop.
void KsPnpStopDevice(KSDEVICE* device);
// Stops the device if a start is outstanding, empties the object bag (running every free
// callback), releases every factory and frees the device. While filters of the device are open
// all of that waits for the last of them to close; no filter opens meanwhile.
void KsPnpRemoveDevice(KSDEVICE* device);

// Filter handles on the device, for the filter's create and close: false when the device is
// being removed (the filter must not open); the last close of a removed device frees it.
bool KsDeviceOpenFilter(KSDEVICE* device);
void KsDeviceCloseFilter(KSDEVICE* device);

}  // namespace bayercam
