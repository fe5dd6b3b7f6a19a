// The pin's queue of client frames: the client queues frame buffers and collects them when
// completed; the minidriver reaches the leading frame through a stream pointer.
#pragma once

#include <cstdint>

#include "platform/ks/ks.h"

namespace bayercam {

struct KSSTREAM_POINTER_OFFSET {
    uint8_t* Data;
    uint32_t Count;
    uint32_t Remaining;
};

struct KSSTREAM_POINTER {
    void* Context;
    KSPIN* Pin;
    KSSTREAM_HEADER* StreamHeader;
    KSSTREAM_POINTER_OFFSET* Offset;  // OffsetOut on an output pin, OffsetIn on an input pin
    KSSTREAM_POINTER_OFFSET OffsetIn;
    KSSTREAM_POINTER_OFFSET OffsetOut;
};

enum KSSTREAM_POINTER_STATE : int32_t {
    KSSTREAM_POINTER_STATE_UNLOCKED = 0,
    KSSTREAM_POINTER_STATE_LOCKED = 1
};

// The pointer to the oldest frame not yet completed, or null when no frame is queued.
KSSTREAM_POINTER* KsPinGetLeadingEdgeStreamPointer(KSPIN* pin, KSSTREAM_POINTER_STATE state);
// With `eject` true, completes the frame to the client and advances the leading edge; otherwise
// the frame stays at the leading edge.
void KsStreamPointerUnlock(KSSTREAM_POINTER* streamPointer, bool eject);

// Client side. `header` describes one frame: Size at least 56 and a multiple of 8 (at least
// 128 when a KS_FRAME_INFO follows the header), Data and FrameExtent the frame buffer. The header
// and buffer stay the client's and must live until the frame comes back. Returns STATUS_PENDING
// when queued; STATUS_INVALID_DEVICE_STATE in the stop state; STATUS_BUFFER_TOO_SMALL when the
// frame is smaller than the pin's framing asks for.
NTSTATUS KsPinQueueFrame(KSPIN* pin, KSSTREAM_HEADER* header);
// Waits at most `timeoutMs` for the next completed frame; STATUS_TIMEOUT when none came.
// `frameStatus` is STATUS_SUCCESS for a delivered frame, STATUS_CANCELLED for one the pin's
// return to stop gave back unused (DataUsed 0).
NTSTATUS KsPinWaitFrame(KSPIN* pin, uint32_t timeoutMs, KSSTREAM_HEADER** header,
                        NTSTATUS* frameStatus);

}  // namespace bayercam
