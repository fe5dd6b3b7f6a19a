// Filter objects of the streaming class driver: created from a filter descriptor on a device,
// each with its own object bag and context.
#pragma once

#include <cstdint>

#include "platform/kernel/irp.h"
#include "platform/ks/ks.h"

namespace bayercam {

struct KSFILTER_IMPL;  // the class driver's own state of the filter (pins, control mutex)

struct KSFILTER {
    const KSFILTER_DESCRIPTOR* Descriptor;  // KsEdit makes it the filter's own copy
    KSOBJECT_BAG Bag;                       // emptied when the filter closes
    void* Context;
    KSFILTER_IMPL* Impl;
};

// Creates a filter on `device` and calls the descriptor's dispatch Create. On failure nothing of
// the filter is left.
NTSTATUS KsCreateFilter(KSDEVICE* device, const KSFILTER_DESCRIPTOR* descriptor, KSFILTER** filter);
// Closes the pins still open on the filter, calls the dispatch Close, empties the bag and frees
// the filter. Returns the dispatch Close's status; the filter is gone either way.
NTSTATUS KsCloseFilter(KSFILTER* filter);

KSDEVICE* KsGetDevice(KSFILTER* filter);
// The filter a class-driver request (create, close, property) was made on, or null.
KSFILTER* KsGetFilterFromIrp(IRP* irp);

// The pin descriptor with index `pinId`, stepping by PinDescriptorSize; null when out of range.
const KSPIN_DESCRIPTOR_EX* KsFilterPinDescriptor(const KSFILTER_DESCRIPTOR* descriptor,
                                                 uint32_t pinId);
// Pins of descriptor `pinId` currently open on the filter. Like the kernel's, it expects the
// filter's requests to be quiet: call it from the minidriver's create, close, format or state
// callbacks, or while no other thread creates or closes pins of the filter.
uint32_t KsFilterGetChildPinCount(KSFILTER* filter, uint32_t pinId);

// Requests the class driver hands to the minidriver carry the object in their stack location.
constexpr uint8_t IRP_MJ_CREATE = 0x00;
constexpr uint8_t IRP_MJ_CLOSE = 0x02;
constexpr uint32_t IOCTL_KS_PROPERTY = 0x002F0003;

// Fills `irp` as a one-location request of `majorFunction` on `filter`.
void KsInitializeObjectIrp(IRP* irp, KSFILTER* filter, uint8_t majorFunction,
                           uint32_t ioControlCode = 0);

}  // namespace bayercam
