#include "core/camera_device.h"
#include "core/capture_context.h"
#include "stream/capture_stream.h"
#include "stream/region_conversion.h"

namespace bayercam {

bool ConvertRawFrame(CaptureContext* context, const RawFrameTap* tap, DirectImage* direct) {
    if (context->running.load() == 0) return false;
    context->processing.exchange(1);
    // Tested again after `processing` is set: a stop that cleared `running` in between has
    // either seen `processing` and waits for this pass, or gone on to free the buffers.
    if (context->running.load() == 0) return false;
    uint8_t* raw = TakeBufferToConvert(context);
    if (!raw) return false;

    CameraDevice* device = context->device;
    int32_t offset = 0;
    int32_t stride = 0;
    device->ops->GetRawOffset(device, &offset);
    device->ops->GetRawStride(device, &stride);
    uint32_t start =
        RoiStart(offset, stride, device->ops->GetRoiX(device), device->ops->GetRoiY(device));
    ImageProcessor* processor = context->imageProcessor;
    if (direct) {
        direct->written = ConvertRegionInto(processor, raw, start, static_cast<uint32_t>(stride),
                                            *direct->destination);
    }
    if (!direct || !direct->written) {
        ConvertRegion(processor, raw, start, static_cast<uint32_t>(stride));
    }
    if (tap && tap->deliver) {
        uint32_t bytes = 0;
        device->ops->GetRawFrameSize(device, &bytes);
        tap->deliver(tap->context, tap->frame, RawFrameView{raw, bytes, offset, stride});
    }
    FinishConvert(context, raw);
    return true;
}

}  // namespace bayercam
