#include <algorithm>

#include "core/camera_device.h"
#include "core/capture_context.h"
#include "stream/capture_stream.h"

namespace bayercam {
namespace {

// How often a stop repeats its cancel while the thread has not ended: a read that began just
// after the previous cancel is cut short by the next.
constexpr int64_t kStopPollMs = 10;
constexpr int32_t kMaxBackoffMs = 50;

}  // namespace

int32_t CaptureBackoffMs(int32_t failures) {
    // A single failure is retried at once, as a lost frame should be; only a run of them backs
    // off, doubling up to a bound that keeps a stop prompt.
    if (failures < 2) return 0;
    return std::min(kMaxBackoffMs, int32_t{1} << std::min(failures - 2, 6));
}

void StartCaptureThread(CaptureContext* context) {
    KeAcquireSpinLock(&context->bufferStateLock);
    // A frame still full from before a pause is dropped.
    context->bufferState[0] = RawBufferState::Free;
    context->bufferState[1] = RawBufferState::Free;
    KeReleaseSpinLock(&context->bufferStateLock);
    context->running.store(1);
    PKTHREAD thread = nullptr;
    if (!NT_SUCCESS(PsCreateSystemThread(&thread, &CaptureLoop, context))) return;
    context->captureThread = thread;
}

void StopCaptureThread(CaptureContext* context) {
    CameraDevice* device = context->device;
    context->running.store(0);
    device->ops->AbortMarkedPipes(device);
    if (PKTHREAD thread = context->captureThread) {
        const int64_t poll = RelativeTimeoutMs(kStopPollMs);
        do {
            device->ops->CancelFrameRead(device);
        } while (KeWaitForThread(thread, &poll) == STATUS_TIMEOUT);
        ObDereferenceObject(thread);
        context->captureThread = nullptr;
    }
    // `running` is 0 before `processing` is tested, and a conversion sets `processing` before
    // it tests `running`: either this test sees the conversion, or the conversion sees the stop
    // and leaves the buffers alone. The pass clears `processing` before it signals, so a signal
    // that this wait needs always comes after the reset.
    KeResetEvent(&context->processDone);
    if (context->processing.load() != 0) KeWaitForSingleObject(&context->processDone, nullptr);
}

bool FillRawBuffer(CaptureContext* context, uint8_t* buffer) {
    if (context->streamState.load() != StreamState::Running) return false;
    CameraDevice* device = context->device;
    bool ok = false;
    device->ops->ReadFrame(device, buffer, &ok);
    if (ok) context->framesCaptured.fetch_add(1);
    return ok;
}

void CaptureLoop(void* argument) {
    auto* context = static_cast<CaptureContext*>(argument);
    CameraDevice* device = context->device;
    int32_t failures = 0;
    while (context->running.load() != 0) {
        uint8_t* buffer = TakeBufferToFill(context);
        bool ok = FillRawBuffer(context, buffer);
        FinishFill(context, buffer, ok);
        if (ok) {
            failures = 0;
            // A frame read while the stop was under way stays full and is not announced.
            if (context->running.load() == 0) break;
            device->ops->OnFrameReady(device);
            continue;
        }
        int32_t pause = CaptureBackoffMs(++failures);
        if (pause > 0 && context->running.load() != 0)
            KeDelayExecutionThread(RelativeTimeoutMs(pause));
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

}  // namespace bayercam
