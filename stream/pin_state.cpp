// State changes of the capture pin: claiming the device's stream at acquire, starting and
// stopping the capture stream at run and pause, and letting go of everything at stop.
#include <mutex>

#include "core/capture_context.h"
#include "imaging/image_processor.h"
#include "stream/capture_pin.h"

namespace bayercam {
namespace {

void StopStream(CapturePin* capturePin) {
    if (capturePin->runState == RunState::NoStream) return;
    TearDownStream(capturePin->device);
    capturePin->runState = RunState::NoStream;
}

NTSTATUS ToStop(CapturePin* capturePin) {
    StopStream(capturePin);
    if (capturePin->acquired) {
        if (capturePin->referenceClock) capturePin->referenceClock->Release();
        capturePin->referenceClock = nullptr;
        ReleaseStream(capturePin->device);
        capturePin->acquired = 0;
    }
    return STATUS_SUCCESS;
}

NTSTATUS Acquire(CapturePin* capturePin) {
    NTSTATUS status = AcquireStream(capturePin->device, capturePin, &capturePin->videoInfo);
    if (!NT_SUCCESS(status)) {
        capturePin->acquired = 0;
        return status;
    }
    capturePin->acquired = 1;
    if (!NT_SUCCESS(KsPinGetReferenceClockInterface(capturePin->pin, &capturePin->referenceClock)))
        capturePin->referenceClock = nullptr;
    return STATUS_SUCCESS;
}

void Pause(CapturePin* capturePin) {
    CaptureContext* context = capturePin->device->captureContext;
    if (context && context->streamState.load() == StreamState::Running) {
        StopCaptureThread(context);
        context->streamState.store(StreamState::Paused);
    }
    capturePin->runState = RunState::Paused;
}

NTSTATUS Run(CapturePin* capturePin) {
    CaptureContext* context = capturePin->device->captureContext;
    if (capturePin->runState == RunState::Paused && context &&
        context->streamState.load() == StreamState::Paused) {
        // Resumed: the buffers and the counters are still those of the paused stream.
        context->streamState.store(StreamState::Running);
        StartCaptureThread(context);
    } else {
        NTSTATUS status = StartStream(capturePin->device);
        if (!NT_SUCCESS(status)) return status;
    }
    capturePin->runState = RunState::Running;
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS PinSetDeviceState(KSPIN* pin, KSSTATE to, KSSTATE from) {
    auto* capturePin = static_cast<CapturePin*>(pin->Context);
    switch (to) {
        case KSSTATE_STOP:
            return ToStop(capturePin);
        case KSSTATE_ACQUIRE:
            if (from == KSSTATE_STOP) return Acquire(capturePin);
            StopStream(capturePin);  // from pause: the buffers go, the processor stays
            return STATUS_SUCCESS;
        case KSSTATE_PAUSE:
            if (from == KSSTATE_RUN) Pause(capturePin);
            return STATUS_SUCCESS;
        case KSSTATE_RUN:
            return Run(capturePin);
    }
    return STATUS_INVALID_PARAMETER;
}

NTSTATUS AcquireStream(CameraDevice* device, FrameSink* sink, const KS_VIDEOINFOHEADER* format) {
    int32_t idle = 0;
    if (!device->formatBusy.compare_exchange_strong(idle, 1)) return STATUS_SHARING_VIOLATION;
    // Property requests reach the processor under this lock.
    std::lock_guard<std::recursive_mutex> settings(device->settingsLock);
    device->dataFormat = format;
    FreeImageProcessor(device->imageProcessor.exchange(nullptr));
    if (format->bmiHeader.biBitCount != 32 || format->bmiHeader.biCompression != KS_BI_RGB) {
        ReleaseStream(device);
        return STATUS_INVALID_PARAMETER;
    }
    ImageProcessor* processor = CreateImageProcessor(device);
    if (!processor) {
        ReleaseStream(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    device->imageProcessor.store(processor);
    device->frameSink.store(sink);
    return STATUS_SUCCESS;
}

void ReleaseStream(CameraDevice* device) {
    std::lock_guard<std::recursive_mutex> settings(device->settingsLock);
    FreeImageProcessor(device->imageProcessor.exchange(nullptr));
    device->frameSink.store(nullptr);
    device->dataFormat = nullptr;
    device->formatBusy.exchange(0);
}

}  // namespace bayercam
