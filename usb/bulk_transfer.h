// The transfer record both the packet and the frame reads send down a bulk or interrupt pipe.
#pragma once

#include <cstdint>

#include "platform/usb_stack/usb.h"

namespace bayercam {

// Fills `urb` for a transfer of `length` bytes on `pipe`, into or from `buffer` or, when `mdl` is
// given, the pages it describes; the direction follows the endpoint address, and a short transfer
// is allowed.
void BuildBulkTransfer(URB* urb, const USBD_PIPE_INFORMATION& pipe, void* buffer, MDL* mdl,
                       uint32_t length);

}  // namespace bayercam
