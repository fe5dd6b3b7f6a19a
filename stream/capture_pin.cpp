#include "stream/capture_pin.h"

#include <algorithm>
#include <cstring>

#include "platform/kernel/pool.h"
#include "platform/ks/ks_edit.h"
#include "platform/ks/ks_pin.h"
#include "platform/ks/ks_processing.h"
#include "stream/video_data_range.h"

namespace bayercam {
namespace {

const KSPIN_DISPATCH kPinDispatch = {
    &PinCreate,          // Create
    &PinClose,           // Close
    &PinProcess,         // Process
    nullptr,             // Reset
    &PinSetDataFormat,   // SetDataFormat
    &PinSetDeviceState,  // SetDeviceState
    nullptr,             // Connect
    nullptr,             // Disconnect
    nullptr,             // Clock
    nullptr,             // Allocator
};

// Every pin replaces the sizes in its own copy at creation.
const KSALLOCATOR_FRAMING_EX kPinFraming = {
    1,          // CountItems
    0,          // PinFlags
    {1, 1, 0},  // OutputCompression
    0,          // PinWeight
    {{
        KSMEMORY_TYPE_KERNEL_NONPAGED,  // MemoryType
        GUID_NULL,                      // BusType
        0,                              // MemoryFlags
        0,                              // BusFlags
        KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY | KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY,
        2,                            // Frames
        0,                            // FileAlignment
        0,                            // MemoryTypeWeight
        {0, 0xFFFFFFFF, 1},           // PhysicalRange
        {{0x2000, 0x2000, 1}, 0, 0},  // FramingRange
    }},
};

const KSDATARANGE* const kPinDataRanges[] = {&VideoDataRange.DataRange};

void FreeCapturePin(void* record) {
    PoolDelete(static_cast<CapturePin*>(record));
}

// A creation that fails after the geometry was locked gives its lock back: nobody else would.
NTSTATUS FailCreate(CameraDevice* device, NTSTATUS status) {
    SetGeometryLock(device, 0);
    return status;
}

}  // namespace

const KSPIN_DESCRIPTOR_EX CapturePinDescriptor = {
    &kPinDispatch,
    nullptr,  // AutomationTable
    {
        0, nullptr,  // Interfaces: the class driver's standard streaming interface
        0, nullptr,  // Mediums: the standard medium
        1, kPinDataRanges, KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_BOTH,
        &PINNAME_VIDEO_CAPTURE,  // Category
        &PINNAME_VIDEO_CAPTURE,  // Name
        0, nullptr,              // ConstrainedDataRanges
    },
    KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING | KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING |
        KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY,
    1,  // InstancesPossible
    1,  // InstancesNecessary
    &kPinFraming,
    &PinIntersect,
};

NTSTATUS CapturePin::NotifyFrame() {
    KsPinAttemptProcessing(pin, true);
    return STATUS_SUCCESS;
}

NTSTATUS PinCreate(KSPIN* pin, IRP*) {
    auto* capturePin = PoolNew<CapturePin>();
    if (!capturePin) return STATUS_INSUFFICIENT_RESOURCES;
    capturePin->pin = pin;
    capturePin->device = GetCameraDevice(KsGetDevice(pin));
    CameraDevice* device = capturePin->device;
    // From now on the geometry, and so the data range, stays as it is while this pin exists.
    SetGeometryLock(device, 1);

    NTSTATUS status = KsAddItemToObjectBag(pin->Bag, capturePin, &FreeCapturePin);
    if (!NT_SUCCESS(status)) {
        PoolDelete(capturePin);
        return FailCreate(device, status);
    }
    pin->Context = capturePin;

    // The format was checked to carry exactly the 40-byte bitmap header the record holds.
    const auto* format =
        reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(pin->ConnectionFormat);
    std::memcpy(&capturePin->videoInfo, &format->VideoInfoHeader, sizeof capturePin->videoInfo);
    // Frames are laid out as the creation format says, not only after a format change.
    capturePin->outputPitch = static_cast<uint32_t>(capturePin->videoInfo.bmiHeader.biWidth) * 4;

    status = KsEdit(pin, &pin->Descriptor);
    if (!NT_SUCCESS(status)) return FailCreate(device, status);
    KSALLOCATOR_FRAMING_EX* framing = nullptr;
    status = KsEdit(pin, &pin->Descriptor->AllocatorFraming, &framing);
    if (!NT_SUCCESS(status)) return FailCreate(device, status);
    // Client frames are exactly one image each.
    const uint32_t imageBytes = capturePin->videoInfo.bmiHeader.biSizeImage;
    KS_FRAMING_ITEM& item = framing->FramingItem[0];
    item.Frames = 2;
    item.PhysicalRange = {imageBytes, imageBytes, 0};
    item.FramingRange.Range = {imageBytes, imageBytes, 0};
    return STATUS_SUCCESS;
}

NTSTATUS PinClose(KSPIN* pin, IRP*) {
    if (auto* capturePin = static_cast<CapturePin*>(pin->Context)) {
        capturePin->outputPitch = 0;
        SetGeometryLock(capturePin->device, 0);
    }
    return STATUS_SUCCESS;
}

NTSTATUS SetRawFrameTap(KSPIN* pin, RawFrameTapFn deliver, void* context) {
    auto* capturePin = pin ? static_cast<CapturePin*>(pin->Context) : nullptr;
    if (!capturePin) return STATUS_INVALID_PARAMETER;
    // Processing reads the tap without a lock; it runs only in the run state.
    if (pin->DeviceState != KSSTATE_STOP) return STATUS_INVALID_DEVICE_STATE;
    capturePin->rawTap = {deliver, context, nullptr};
    return STATUS_SUCCESS;
}

}  // namespace bayercam
