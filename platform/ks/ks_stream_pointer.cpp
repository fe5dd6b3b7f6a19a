#include "platform/ks/ks_stream_pointer.h"

#include <chrono>

#include "platform/ks/ks_filter_impl.h"
#include "platform/ks/ks_processing.h"

namespace bayercam {
namespace {

// The smallest frame the pin's framing asks for; 0 when it states none.
uint32_t MinimumFrameSize(const KSPIN* pin) {
    const KSALLOCATOR_FRAMING_EX* framing = pin->Descriptor->AllocatorFraming;
    if (!framing || framing->CountItems == 0) return 0;
    return framing->FramingItem[0].FramingRange.Range.MinFrameSize;
}

void PointAt(KSPIN* pin, KSSTREAM_POINTER* pointer, KSSTREAM_HEADER* header) {
    auto* data = static_cast<uint8_t*>(header->Data);
    *pointer = {};
    pointer->Pin = pin;
    pointer->StreamHeader = header;
    pointer->OffsetIn = {data, header->DataUsed, header->DataUsed};
    pointer->OffsetOut = {data, header->FrameExtent, header->FrameExtent};
    pointer->Offset = pin->DataFlow == KSPIN_DATAFLOW_IN ? &pointer->OffsetIn : &pointer->OffsetOut;
}

}  // namespace

NTSTATUS KsPinQueueFrame(KSPIN* pin, KSSTREAM_HEADER* header) {
    if (!pin || !header || header->Size < sizeof(KSSTREAM_HEADER) || header->Size % 8 != 0 ||
        (header->FrameExtent > 0 && !header->Data))
        return STATUS_INVALID_PARAMETER;
    if (header->FrameExtent < MinimumFrameSize(pin)) return STATUS_BUFFER_TOO_SMALL;
    KSPIN_IMPL* impl = pin->Impl;
    {
        std::lock_guard<std::mutex> guard(impl->lock);
        if (!impl->acceptsFrames) return STATUS_INVALID_DEVICE_STATE;
        impl->queued.push_back(header);
    }
    if (!(impl->flags & KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING)) KsPinAttemptProcessing(pin, true);
    return STATUS_PENDING;
}

NTSTATUS KsPinWaitFrame(KSPIN* pin, uint32_t timeoutMs, KSSTREAM_HEADER** header,
                        NTSTATUS* frameStatus) {
    if (!pin || !header || !frameStatus) return STATUS_INVALID_PARAMETER;
    KSPIN_IMPL* impl = pin->Impl;
    std::unique_lock<std::mutex> lock(impl->lock);
    if (!impl->frameCompleted.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                       [&] { return !impl->completed.empty(); }))
        return STATUS_TIMEOUT;
    *header = impl->completed.front().header;
    *frameStatus = impl->completed.front().status;
    impl->completed.pop_front();
    return STATUS_SUCCESS;
}

KSSTREAM_POINTER* KsPinGetLeadingEdgeStreamPointer(KSPIN* pin, KSSTREAM_POINTER_STATE state) {
    if (!pin) return nullptr;
    KSPIN_IMPL* impl = pin->Impl;
    std::lock_guard<std::mutex> guard(impl->lock);
    if (impl->queued.empty()) return nullptr;
    // A pointer already locked keeps the offsets the minidriver may have advanced.
    if (!impl->leadingEdgeLocked) PointAt(pin, &impl->leadingEdge, impl->queued.front());
    impl->leadingEdgeLocked = state == KSSTREAM_POINTER_STATE_LOCKED;
    return &impl->leadingEdge;
}

void KsStreamPointerUnlock(KSSTREAM_POINTER* pointer, bool eject) {
    if (!pointer || !pointer->Pin) return;
    KSPIN_IMPL* impl = pointer->Pin->Impl;
    {
        std::lock_guard<std::mutex> guard(impl->lock);
        // The frame may have been cancelled meanwhile; a stale pointer completes nothing.
        if (impl->queued.empty() || impl->queued.front() != pointer->StreamHeader) return;
        impl->leadingEdgeLocked = false;
        if (!eject) return;
        impl->queued.pop_front();
        impl->completed.push_back({pointer->StreamHeader, STATUS_SUCCESS});
        impl->framesCompleted++;
    }
    impl->frameCompleted.notify_all();
}

void KsPinSetFrameAcceptance(KSPIN* pin, bool accept) {
    KSPIN_IMPL* impl = pin->Impl;
    {
        std::lock_guard<std::mutex> guard(impl->lock);
        impl->acceptsFrames = accept;
        if (accept) return;
        for (KSSTREAM_HEADER* header : impl->queued) {
            header->DataUsed = 0;
            impl->completed.push_back({header, STATUS_CANCELLED});
        }
        impl->queued.clear();
        impl->leadingEdgeLocked = false;
    }
    impl->frameCompleted.notify_all();
}

}  // namespace bayercam
