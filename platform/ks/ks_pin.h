// Pin objects of the streaming class driver: creation against the pin's data ranges, format
// changes, state changes walked one step at a time, and close.
#pragma once

#include <cstdint>

#include "platform/ks/ks.h"
#include "platform/ks/ks_filter.h"

namespace bayercam {

struct KSPIN_IMPL;  // the class driver's own state of the pin (frame queue, worker, clock)

struct KSPIN {
    const KSPIN_DESCRIPTOR_EX* Descriptor;  // KsEdit makes it the pin's own copy
    KSOBJECT_BAG Bag;                       // emptied when the pin closes
    void* Context;
    uint32_t Id;
    KSPIN_DATAFLOW DataFlow;
    KSDATAFORMAT* ConnectionFormat;  // pool copy of the client's format, FormatSize bytes
    KSSTATE DeviceState;
    KSPIN_IMPL* Impl;
};

// Creates pin `pinId` on `filter` with the client's connection format (`formatBytes` is the size
// of the client's buffer; the format's FormatSize must fit in it). The format must match one of
// the pin's data ranges (major format, subformat, specifier; a null GUID in the range matches
// any); the pin's SetDataFormat is called with no old format, then its dispatch Create. Refused
// with STATUS_DEVICE_BUSY when InstancesPossible pins of that id are open. `referenceClock`
// false creates the pin without a clock. The pin starts in KSSTATE_STOP.
NTSTATUS KsCreatePin(KSFILTER* filter, uint32_t pinId, const KSDATAFORMAT* format,
                     uint32_t formatBytes, bool referenceClock, KSPIN** pin);
// Walks the pin down to stop (cancelling its queued frames), ends its processing, calls the
// dispatch Close, empties the bag and frees the pin. Returns the dispatch Close's status.
NTSTATUS KsClosePin(KSPIN* pin);

// Changes the connection format: the pin's SetDataFormat sees the new format as the connection
// format and the old one as `oldFormat`; on failure the old format stays.
NTSTATUS KsPinChangeFormat(KSPIN* pin, const KSDATAFORMAT* format, uint32_t formatBytes);

// Moves the pin to `state` one step at a time (stop, acquire, pause, run), calling the pin's
// SetDeviceState for each step. A failing step ends the walk with the pin in the last state
// reached, and its status is returned.
NTSTATUS KsPinChangeState(KSPIN* pin, KSSTATE state);

KSDEVICE* KsGetDevice(KSPIN* pin);
KSFILTER* KsPinGetParentFilter(KSPIN* pin);

// The data range of the pin descriptor that `format` matches, or null.
const KSDATARANGE* KsPinMatchingDataRange(const KSPIN_DESCRIPTOR_EX* descriptor,
                                          const KSDATAFORMAT* format);

}  // namespace bayercam
