// The chunked bulk read of one raw frame: the frame buffer is described once and read from the
// image pipe as many 64 KiB requests queued back to back, each a partial descriptor of it.
#pragma once

#include <cstdint>

#include "core/camera_device.h"
#include "platform/kernel/irp.h"
#include "platform/usb_stack/usb.h"

namespace bayercam {

constexpr uint32_t kChunkBytes = 65'536;

// One slot of the chunk table.
struct ChunkRequest {
    CameraDevice* owner;  // reaches the counters and the event from the completion
    URB* urb;             // owned
    IRP* irp;             // owned
    MDL* mdl;             // partial descriptor of the chunk's part of the buffer, owned
    AtomicInt32 completed;
};

// Chunks needed for `length` bytes: the last one takes what remains, none is empty.
constexpr uint32_t ChunkCountFor(uint32_t length) {
    return length / kChunkBytes + (length % kChunkBytes ? 1 : 0);
}

// Reads `length` bytes from the image pipe into `buffer`. STATUS_SUCCESS only when every chunk
// request succeeded with all its bytes in time; STATUS_TIMEOUT when the frame time-out expired;
// STATUS_CANCELLED when CancelFrameRead cut the read short; otherwise the failure's status.
NTSTATUS ReadFrameChunked(CameraDevice* device, uint32_t length, uint8_t* buffer);
// Completion routine of every chunk request; `context` is its slot.
NTSTATUS ChunkCompletion(DEVICE_OBJECT* deviceObject, IRP* irp, void* context);
// Cancels the outstanding chunk requests of a read in progress and waits until every request
// the read submitted has completed. Callable from any passive-level thread (CameraOps slot 7).
void CancelChunkRequests(CameraDevice* device);
// Releases the read's requests, descriptors, URBs and table.
void FreeChunkRequests(CameraDevice* device);

}  // namespace bayercam
