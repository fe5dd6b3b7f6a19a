#include "platform/ks/ks_filter.h"

#include <algorithm>

#include "platform/kernel/pool.h"
#include "platform/ks/ks_device.h"
#include "platform/ks/ks_filter_impl.h"
#include "platform/ks/ks_object_bag.h"

namespace bayercam {

namespace {

void DestroyFilter(KSFILTER* filter, KSDEVICE* device) {
    KsFreeObjectBag(filter->Bag);
    PoolDelete(filter->Impl);
    PoolDelete(filter);
    KsDeviceCloseFilter(device);
}

bool DescriptorUsable(const KSFILTER_DESCRIPTOR* descriptor) {
    if (descriptor->PinDescriptorsCount == 0) return true;
    return descriptor->PinDescriptors &&
           descriptor->PinDescriptorSize >= sizeof(KSPIN_DESCRIPTOR_EX);
}

}  // namespace

const KSPIN_DESCRIPTOR_EX* KsFilterPinDescriptor(const KSFILTER_DESCRIPTOR* descriptor,
                                                 uint32_t pinId) {
    if (!descriptor || pinId >= descriptor->PinDescriptorsCount || !DescriptorUsable(descriptor))
        return nullptr;
    auto* base = reinterpret_cast<const uint8_t*>(descriptor->PinDescriptors);
    return reinterpret_cast<const KSPIN_DESCRIPTOR_EX*>(base + size_t{pinId} *
                                                                   descriptor->PinDescriptorSize);
}

void KsInitializeObjectIrp(IRP* irp, KSFILTER* filter, uint8_t majorFunction,
                           uint32_t ioControlCode) {
    irp->IoStatus = {STATUS_SUCCESS, 0};
    irp->StackCount = 1;
    irp->CurrentLocation = 1;
    IO_STACK_LOCATION& location = irp->Stack[0];
    location = {};
    location.MajorFunction = majorFunction;
    location.Parameters.IoControlCode = ioControlCode;
    location.Parameters.Argument2 = filter;
    location.DeviceObject =
        filter && filter->Impl->device ? filter->Impl->device->FunctionalDeviceObject : nullptr;
}

KSFILTER* KsGetFilterFromIrp(IRP* irp) {
    if (!irp || irp->CurrentLocation < 1 || irp->CurrentLocation > irp->StackCount ||
        irp->CurrentLocation > kMaxIrpStackSize)
        return nullptr;
    const IO_STACK_LOCATION& location = irp->Stack[irp->CurrentLocation - 1];
    bool objectRequest = location.MajorFunction == IRP_MJ_CREATE ||
                         location.MajorFunction == IRP_MJ_CLOSE ||
                         (location.MajorFunction == IRP_MJ_DEVICE_CONTROL &&
                          location.Parameters.IoControlCode == IOCTL_KS_PROPERTY);
    return objectRequest ? static_cast<KSFILTER*>(location.Parameters.Argument2) : nullptr;
}

KSDEVICE* KsGetDevice(KSFILTER* filter) {
    return filter ? filter->Impl->device : nullptr;
}

uint32_t KsFilterGetChildPinCount(KSFILTER* filter, uint32_t pinId) {
    return pinId < filter->Impl->pinCounts.size() ? filter->Impl->pinCounts[pinId] : 0;
}

NTSTATUS KsEditObject(KSFILTER* filter, void** pointer, size_t size) {
    if (!filter) return STATUS_INVALID_PARAMETER;
    return KsEditBlock(filter->Bag, &filter->Impl->edited, filter, sizeof *filter, pointer, size);
}

NTSTATUS KsCreateFilter(KSDEVICE* device, const KSFILTER_DESCRIPTOR* descriptor, KSFILTER** out) {
    if (!out) return STATUS_INVALID_PARAMETER;
    *out = nullptr;
    if (!device || !descriptor || !DescriptorUsable(descriptor)) return STATUS_INVALID_PARAMETER;
    if (!KsDeviceOpenFilter(device)) return STATUS_INVALID_DEVICE_STATE;

    auto* filter = PoolNew<KSFILTER>();
    if (!filter) {
        KsDeviceCloseFilter(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    filter->Descriptor = descriptor;
    filter->Impl = PoolNew<KSFILTER_IMPL>();
    filter->Bag = KsCreateObjectBag();
    if (!filter->Impl || !filter->Bag) {
        DestroyFilter(filter, device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    filter->Impl->device = device;
    filter->Impl->pinCounts.assign(descriptor->PinDescriptorsCount, 0);

    if (descriptor->Dispatch && descriptor->Dispatch->Create) {
        IRP irp{};
        KsInitializeObjectIrp(&irp, filter, IRP_MJ_CREATE);
        NTSTATUS status = descriptor->Dispatch->Create(filter, &irp);
        if (!NT_SUCCESS(status)) {
            DestroyFilter(filter, device);
            return status;
        }
    }
    *out = filter;
    return STATUS_SUCCESS;
}

NTSTATUS KsCloseFilter(KSFILTER* filter) {
    if (!filter) return STATUS_INVALID_PARAMETER;
    NTSTATUS status = STATUS_SUCCESS;
    {
        std::lock_guard<std::mutex> guard(filter->Impl->control);
        // A pin cannot outlive its filter.
        while (!filter->Impl->pins.empty()) KsClosePinLocked(filter->Impl->pins.back());
        const KSFILTER_DISPATCH* dispatch = filter->Descriptor->Dispatch;
        if (dispatch && dispatch->Close) {
            IRP irp{};
            KsInitializeObjectIrp(&irp, filter, IRP_MJ_CLOSE);
            status = dispatch->Close(filter, &irp);
        }
    }
    DestroyFilter(filter, filter->Impl->device);
    return status;
}

}  // namespace bayercam
