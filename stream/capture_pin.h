// The capture pin: its record, its descriptor and the class driver's calls into it (create,
// close, format, intersection, state changes, processing).
#pragma once

#include <cstdint>

#include "core/camera_device.h"
#include "platform/ks/ks.h"
#include "platform/ks/ks_clock.h"
#include "platform/ks/ks_pin.h"
#include "platform/ks/ks_types.h"
#include "stream/capture_stream.h"

namespace bayercam {

struct IRP;

// What the pin has made of the device's capture stream.
enum class RunState : uint32_t {
    NoStream = 0,
    Paused = 1,  // paused after running: the stream's buffers are kept
    Running = 2,
};

// The pin's context, owned by the pin's object bag. The device tells it of new frames.
struct CapturePin final : FrameSink {
    // Asks the class driver to run the pin's processing.
    NTSTATUS NotifyFrame() override;

    KSPIN* pin = nullptr;
    CameraDevice* device = nullptr;
    RunState runState = RunState::NoStream;
    IKsReferenceClock* referenceClock = nullptr;
    KS_VIDEOINFOHEADER videoInfo{};  // the connection format's video info header
    uint8_t acquired = 0;            // 1 from a successful AcquireStream until ReleaseStream
    uint32_t outputPitch = 0;        // client-frame row pitch of the connection format
    RawFrameTap rawTap{};            // who keeps the raw frames of delivered frames, if anyone
};

extern const KSPIN_DESCRIPTOR_EX CapturePinDescriptor;

NTSTATUS PinCreate(KSPIN* pin, IRP* irp);
NTSTATUS PinClose(KSPIN* pin, IRP* irp);
NTSTATUS PinSetDataFormat(KSPIN* pin, KSDATAFORMAT* oldFormat, void* oldAttributeList,
                          const KSDATARANGE* dataRange, void* attributeRange);
NTSTATUS PinIntersect(void* context, IRP* irp, void* pin, const KSDATARANGE* callerDataRange,
                      const KSDATARANGE* descriptorDataRange, uint32_t dataBufferSize, void* data,
                      uint32_t* dataSize);
NTSTATUS PinSetDeviceState(KSPIN* pin, KSSTATE toState, KSSTATE fromState);
NTSTATUS PinProcess(KSPIN* pin);

// Claims the device's stream for `sink` with the format `format`: one pin of a device at a time.
NTSTATUS AcquireStream(CameraDevice* device, FrameSink* sink, const KS_VIDEOINFOHEADER* format);
void ReleaseStream(CameraDevice* device);

// Fills the stream header (and its frame info, when it has room for one) of a delivered frame.
void FillStreamHeader(const CapturePin* capturePin, KSSTREAM_HEADER* header);

// Has `deliver` see the raw frame behind every frame the pin delivers (null: nobody). Only in
// the stop state: STATUS_INVALID_DEVICE_STATE otherwise.
NTSTATUS SetRawFrameTap(KSPIN* pin, RawFrameTapFn deliver, void* context);

}  // namespace bayercam
