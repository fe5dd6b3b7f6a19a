// Property requests: the class driver finds the property's set and item in the automation table
// and checks the request against the item before any handler of the minidriver runs.
#pragma once

#include <cstdint>

#include "platform/ks/ks.h"
#include "platform/ks/ks_filter.h"

namespace bayercam {

// `property` (propertyBytes long) begins with a KSPROPERTY whose Flags are KSPROPERTY_TYPE_GET
// or KSPROPERTY_TYPE_SET; `data` is the value buffer, read by a set and written by a get.
// Refusals, before any handler runs: STATUS_NOT_FOUND for an unknown set or id,
// STATUS_INVALID_DEVICE_REQUEST when the item has no handler for the direction,
// STATUS_BUFFER_TOO_SMALL for a property or data buffer below the item's MinProperty / MinData
// (a get with no data buffer at all is a size query: STATUS_BUFFER_OVERFLOW with MinData in
// `bytesReturned`), STATUS_INVALID_PARAMETER for other flags or missing buffers.
// `bytesReturned` is what the handler left in the request's Information: the data buffer's size
// for a get and 0 for a set unless the handler says otherwise.
NTSTATUS KsDispatchProperty(const KSAUTOMATION_TABLE* table, IRP* irp, void* property,
                            uint32_t propertyBytes, void* data, uint32_t dataBytes,
                            uint32_t* bytesReturned);

// A property request on a filter, dispatched through the filter descriptor's automation table
// with a request from which KsGetFilterFromIrp finds the filter.
NTSTATUS KsFilterProperty(KSFILTER* filter, void* property, uint32_t propertyBytes, void* data,
                          uint32_t dataBytes, uint32_t* bytesReturned);

}  // namespace bayercam
