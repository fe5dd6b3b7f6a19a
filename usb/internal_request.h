// The one way the driver sends a request down its device stack and waits for the answer.
#pragma once

#include <cstdint>

#include "platform/kernel/irp.h"

namespace bayercam {

// Builds an internal device-control request with `argument` in the first argument of the next
// stack location, passes it to `lowerDevice` and waits until it completes. With a `timeout`
// (kernel convention: negative, relative, 100-ns units) a request still pending when it expires
// is cancelled and awaited, and STATUS_TIMEOUT is returned unless it had completed successfully
// after all. Returns the request's final status, or STATUS_INSUFFICIENT_RESOURCES when it cannot
// be built.
NTSTATUS SendInternalRequest(DEVICE_OBJECT* lowerDevice, uint32_t ioControlCode, void* argument,
                             const int64_t* timeout = nullptr);

}  // namespace bayercam
