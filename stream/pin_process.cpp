// The pin's processing: one raw frame converted and delivered into the leading client frame.
#include <algorithm>

#include "core/capture_context.h"
#include "platform/ks/ks_stream_pointer.h"
#include "stream/capture_pin.h"
#include "stream/frame_copy.h"

namespace bayercam {
namespace {

constexpr uint32_t kHeaderWithFrameInfo = sizeof(KSSTREAM_HEADER) + sizeof(KS_FRAME_INFO);  // 128

FrameCopy ClientFrameCopy(const CapturePin* capturePin) {
    CameraDevice* device = capturePin->device;
    FrameCopy copy{};
    copy.sourceWidth = device->roiW.load();
    copy.sourceHeight = device->roiH.load();
    copy.outputWidth = device->outputWidth.load();
    copy.outputHeight = device->outputHeight.load();
    copy.pitch = FramePitch(capturePin->outputPitch, copy.outputWidth);
    copy.flipH = ReadFlipH(device) != 0;
    // A client format with a negative height asks for the top row first: flipV then turns the
    // image over relative to that.
    const bool topDown = capturePin->videoInfo.bmiHeader.biHeight < 0;
    copy.flipV = (ReadFlipV(device) != 0) != topDown;
    return copy;
}

}  // namespace

void FillStreamHeader(const CapturePin* capturePin, KSSTREAM_HEADER* header) {
    const KS_VIDEOINFOHEADER& video = capturePin->videoInfo;
    // Never more than the frame holds: its size was fixed when the pin was made.
    header->DataUsed = std::min(video.bmiHeader.biSizeImage, header->FrameExtent);
    header->PresentationTime.Denominator = 1;
    header->Duration = video.AvgTimePerFrame;
    header->PresentationTime.Numerator = 1;
    IKsReferenceClock* clock = capturePin->referenceClock;
    if (!clock) {
        header->PresentationTime.Time = 0;
        return;
    }
    header->PresentationTime.Time = clock->GetCorrelatedTime(nullptr);
    header->OptionsFlags =
        KSSTREAM_HEADER_OPTIONSF_TIMEVALID | KSSTREAM_HEADER_OPTIONSF_DURATIONVALID;
    if (header->Size < kHeaderWithFrameInfo) return;
    auto* frameInfo = reinterpret_cast<KS_FRAME_INFO*>(header + 1);
    frameInfo->ExtendedHeaderSize = sizeof(KS_FRAME_INFO);
    frameInfo->PictureNumber =
        static_cast<uint32_t>(capturePin->device->frameCounter.load(std::memory_order_relaxed));
    const CaptureContext* context = capturePin->device->captureContext;
    frameInfo->DropCount = context ? context->framesDropped.load() : 0;
}

NTSTATUS PinProcess(KSPIN* pin) {
    auto* capturePin = static_cast<CapturePin*>(pin->Context);
    CaptureContext* context = capturePin->device->captureContext;
    // Nothing read since the stream started: the client frame stays queued.
    if (!context || context->framesCaptured.load() <= 0) return STATUS_PENDING;

    KSSTREAM_POINTER* pointer =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    RawFrameTap tap = capturePin->rawTap;
    tap.frame = pointer ? pointer->StreamHeader : nullptr;
    // With a client frame waiting, the conversion writes straight into it when it can.
    FrameCopy copy{};
    ImageDestination clientImage{};
    DirectImage direct{nullptr, false};
    KSSTREAM_HEADER* header = pointer ? pointer->StreamHeader : nullptr;
    if (header) {
        copy = ClientFrameCopy(capturePin);
        if (FrameAsDestination(copy, static_cast<uint8_t*>(header->Data), header->FrameExtent,
                               &clientImage)) {
            direct.destination = &clientImage;
        }
    }
    // Without a client frame the raw frame is still converted, and lost: a dropped frame.
    bool converted = ConvertRawFrame(context, pointer && tap.deliver ? &tap : nullptr,
                                     direct.destination ? &direct : nullptr);
    if (converted && !pointer) context->framesDropped.fetch_add(1);
    if (pointer) {
        if (converted) {
            FillStreamHeader(capturePin, header);
            if (!direct.written) {
                CopyImageToFrame(copy, context->outputBuffer, static_cast<uint8_t*>(header->Data),
                                 header->FrameExtent);
            }
        }
        KsStreamPointerUnlock(pointer, true);
    }
    // `processing` is cleared before the signal, so that a stop which saw it set is woken.
    context->processing.exchange(0);
    KeSetEvent(&context->processDone);
    return STATUS_PENDING;
}

}  // namespace bayercam
