#include "platform/ks/ks_intersection.h"

namespace bayercam {
namespace {

bool Compatible(const GUID& a, const GUID& b) {
    return a == GUID_NULL || b == GUID_NULL || a == b;
}

}  // namespace

NTSTATUS KsPinDataIntersection(KSFILTER* filter, uint32_t pinId, const KSDATARANGE* callerRange,
                               uint32_t rangeBytes, void* data, uint32_t dataBytes,
                               uint32_t* dataSize) {
    if (!dataSize) return STATUS_INVALID_PARAMETER;
    *dataSize = 0;
    if (!filter || !callerRange || rangeBytes < sizeof(KSDATARANGE) ||
        callerRange->FormatSize < sizeof(KSDATARANGE) || callerRange->FormatSize > rangeBytes ||
        (dataBytes > 0 && !data))
        return STATUS_INVALID_PARAMETER;
    const KSPIN_DESCRIPTOR_EX* descriptor = KsFilterPinDescriptor(filter->Descriptor, pinId);
    if (!descriptor) return STATUS_INVALID_PARAMETER;
    if (!descriptor->IntersectHandler) return STATUS_NO_MATCH;

    IRP irp{};
    KsInitializeObjectIrp(&irp, filter, IRP_MJ_DEVICE_CONTROL, IOCTL_KS_PROPERTY);
    KSP_PIN request{};
    request.PinId = pinId;
    const KSPIN_DESCRIPTOR& pin = descriptor->PinDescriptor;
    for (uint32_t i = 0; pin.DataRanges && i < pin.DataRangesCount; ++i) {
        const KSDATARANGE* range = pin.DataRanges[i];
        if (!range || !Compatible(range->MajorFormat, callerRange->MajorFormat) ||
            !Compatible(range->SubFormat, callerRange->SubFormat) ||
            !Compatible(range->Specifier, callerRange->Specifier))
            continue;
        NTSTATUS status = descriptor->IntersectHandler(filter, &irp, &request, callerRange, range,
                                                       dataBytes, data, dataSize);
        if (status != STATUS_NO_MATCH) return status;
    }
    return STATUS_NO_MATCH;
}

}  // namespace bayercam
