#include "stream/capture_stream.h"

#include "core/camera_device.h"
#include "core/capture_context.h"
#include "imaging/image_processor.h"
#include "imaging/worker_pool.h"
#include "platform/kernel/pool.h"

namespace bayercam {
namespace {

void FreeBuffer(uint8_t*& buffer) {
    ExFreePool(buffer);
    buffer = nullptr;
}

void FreeStreamBuffers(CaptureContext* context) {
    FreeBuffer(context->outputBuffer);
    FreeBuffer(context->rawBuffer[0]);
    FreeBuffer(context->rawBuffer[1]);
}

// The conversion reads roiW x roiH pixels of every raw frame; a camera whose raw geometry does
// not hold them (StartCapture failed and left it unset) must not be streamed from.
bool RawFrameHoldsRegion(CameraDevice* device, uint32_t rawBytes, int32_t width, int32_t height) {
    int32_t offset = 0;
    int32_t stride = 0;
    device->ops->GetRawOffset(device, &offset);
    device->ops->GetRawStride(device, &stride);
    int64_t x = device->ops->GetRoiX(device);
    int64_t y = device->ops->GetRoiY(device);
    if (offset < 0 || stride <= 0 || x < 0 || y < 0 || width <= 0 || height <= 0) return false;
    if (x + width > stride) return false;
    int64_t end = offset + (y + height - 1) * stride + x + width;
    return end <= rawBytes;
}

}  // namespace

NTSTATUS StartStream(CameraDevice* device) {
    CaptureContext* context = device->captureContext;
    // The device start could not make the capture record.
    if (!context) return STATUS_INSUFFICIENT_RESOURCES;
    ImageProcessor* processor = device->imageProcessor.load();
    // No image narrower than 8 pixels is ever delivered: the output width would be 0.
    if (!processor || device->outputWidth.load() <= 0) return STATUS_INVALID_DEVICE_STATE;

    device->frameCounter.store(0);
    RefreshPipelineMode(device);
    SetPipelineMode(processor, device->pipelineMode.load());
    const int32_t width = device->roiW.load();
    const int32_t height = device->roiH.load();
    context->processing.exchange(0);
    context->framesCaptured.store(0);
    context->framesDropped.store(0);
    context->imageProcessor = processor;

    device->ops->StartCapture(device);
    uint32_t rawBytes = 0;
    device->ops->GetRawFrameSize(device, &rawBytes);
    if (!RawFrameHoldsRegion(device, rawBytes, width, height)) return STATUS_INVALID_DEVICE_STATE;

    context->rawBuffer[0] = static_cast<uint8_t*>(ExAllocatePoolZero(rawBytes));
    context->rawBuffer[1] = static_cast<uint8_t*>(ExAllocatePoolZero(rawBytes));
    context->outputBuffer =
        static_cast<uint8_t*>(ExAllocatePoolZero(size_t{uint32_t(width)} * uint32_t(height) * 4));
    if (!context->rawBuffer[0] || !context->rawBuffer[1] || !context->outputBuffer) {
        // Released at once: a stream that did not start holds nothing.
        FreeStreamBuffers(context);
        return STATUS_INSUFFICIENT_RESOURCES;
    }

    SetFrameSize(processor, static_cast<uint32_t>(width), static_cast<uint32_t>(height));
    AllocateWorkBuffer(processor);
    processor->outputBuffer = context->outputBuffer;
    // Without the pool (no memory for it) frames are converted on the pin's thread alone.
    context->conversionWorkers = PoolNew<WorkerPool>(ConversionWorkerCount());
    processor->workers = context->conversionWorkers;
    context->streamState.store(StreamState::Running);
    StartCaptureThread(context);
    return STATUS_SUCCESS;
}

void TearDownStream(CameraDevice* device) {
    CaptureContext* context = device->captureContext;
    if (!context) return;
    StopCaptureThread(context);
    context->streamState.store(StreamState::Stopped);
    if (ImageProcessor* processor = context->imageProcessor) {
        processor->workers = nullptr;
        processor->outputBuffer = nullptr;
        ExFreePool(processor->workBuffer);
        processor->workBuffer = nullptr;
    }
    FreeStreamBuffers(context);
    PoolDelete(context->conversionWorkers);
    context->conversionWorkers = nullptr;
}

}  // namespace bayercam
