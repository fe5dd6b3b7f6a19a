#include "core/capture_context.h"
#include "stream/capture_stream.h"

namespace bayercam {
namespace {

bool Is(const CaptureContext* context, int index, RawBufferState state) {
    return context->bufferState[index] == state;
}

void Mark(CaptureContext* context, int index, RawBufferState state) {
    context->bufferState[index] = state;
}

// Buffers are known by their address.
int IndexOf(const CaptureContext* context, const uint8_t* buffer) {
    return buffer == context->rawBuffer[0] ? 0 : 1;
}

}  // namespace

uint8_t* TakeBufferToFill(CaptureContext* context) {
    KeAcquireSpinLock(&context->bufferStateLock);
    int index;
    if (Is(context, 0, RawBufferState::Free)) {
        index = 0;
    } else if (Is(context, 1, RawBufferState::Free)) {
        index = 1;
    } else {
        // Both hold frames: the full one that is not being converted is overwritten, buffer 0
        // by preference. Its frame is lost, and counted as dropped.
        index = Is(context, 0, RawBufferState::InUse) ? 1 : 0;
        context->framesDropped.fetch_add(1);
    }
    Mark(context, index, RawBufferState::Filling);
    KeReleaseSpinLock(&context->bufferStateLock);
    return context->rawBuffer[index];
}

void FinishFill(CaptureContext* context, uint8_t* buffer, bool ok) {
    KeAcquireSpinLock(&context->bufferStateLock);
    Mark(context, IndexOf(context, buffer), ok ? RawBufferState::Full : RawBufferState::Free);
    KeReleaseSpinLock(&context->bufferStateLock);
}

uint8_t* TakeBufferToConvert(CaptureContext* context) {
    KeAcquireSpinLock(&context->bufferStateLock);
    int index = -1;
    // Buffer 0 first, whatever the age of the two frames.
    if (Is(context, 0, RawBufferState::Full)) {
        index = 0;
    } else if (Is(context, 1, RawBufferState::Full)) {
        index = 1;
    }
    if (index >= 0) Mark(context, index, RawBufferState::InUse);
    KeReleaseSpinLock(&context->bufferStateLock);
    return index >= 0 ? context->rawBuffer[index] : nullptr;
}

void FinishConvert(CaptureContext* context, uint8_t* buffer) {
    KeAcquireSpinLock(&context->bufferStateLock);
    Mark(context, IndexOf(context, buffer), RawBufferState::Free);
    KeReleaseSpinLock(&context->bufferStateLock);
}

RawBufferState BufferState(CaptureContext* context, int index) {
    KeAcquireSpinLock(&context->bufferStateLock);
    RawBufferState state = context->bufferState[index];
    KeReleaseSpinLock(&context->bufferStateLock);
    return state;
}

}  // namespace bayercam
