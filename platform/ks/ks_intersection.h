// Data intersection: the class driver asks a pin's intersect handler for a format that lies
// within both a client's data range and one of the pin's own.
#pragma once

#include <cstdint>

#include "platform/ks/ks.h"
#include "platform/ks/ks_filter.h"

namespace bayercam {

// The property record of pin requests, handed to intersect handlers as their `pin` argument.
struct KSP_PIN {
    KSPROPERTY Property;
    uint32_t PinId;
    uint32_t Reserved;
};
static_assert(sizeof(KSP_PIN) == 32);

// Offers `callerRange` (rangeBytes long; its FormatSize must fit) to the intersect handler of pin
// `pinId`, once for each of the pin's data ranges whose major format, subformat and specifier
// match (a null GUID on either side matches any), until one answers other than STATUS_NO_MATCH.
// The handler gets the filter as context. `dataBytes` 0 is a size query: the handler answers
// STATUS_BUFFER_OVERFLOW with the size in `dataSize`. STATUS_NO_MATCH when no range intersects.
NTSTATUS KsPinDataIntersection(KSFILTER* filter, uint32_t pinId, const KSDATARANGE* callerRange,
                               uint32_t rangeBytes, void* data, uint32_t dataBytes,
                               uint32_t* dataSize);

}  // namespace bayercam
