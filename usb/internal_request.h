// The one way the driver sends a request down its device stack and waits for the answer.
#pragma once

#include <cstdint>

#include "platform/irp.h"

namespace bayercam {

// Builds an internal device-control request with `argument` in the first argument of the next
// stack location, passes it to `lowerDevice` and, when it is pending, waits for it without a
// time-out. Returns the request's final status, or STATUS_INSUFFICIENT_RESOURCES when it cannot
// be built.
NTSTATUS SendInternalRequest(DEVICE_OBJECT* lowerDevice, uint32_t ioControlCode, void* argument);

}  // namespace bayercam
