#include "platform/ks/ks_pin.h"

#include <algorithm>
#include <cstring>

#include "platform/kernel/pool.h"
#include "platform/ks/ks_filter_impl.h"
#include "platform/ks/ks_object_bag.h"
#include "platform/ks/ks_processing.h"

namespace bayercam {
namespace {

// A null GUID in a data range stands for any value (the kernel's wildcards).
bool GuidMatches(const GUID& range, const GUID& format) {
    return range == GUID_NULL || range == format;
}

// The client's format must lie within the buffer it gave.
bool FormatUsable(const KSDATAFORMAT* format, uint32_t formatBytes) {
    return format && formatBytes >= sizeof(KSDATAFORMAT) &&
           format->FormatSize >= sizeof(KSDATAFORMAT) && format->FormatSize <= formatBytes;
}

KSDATAFORMAT* CopyFormat(const KSDATAFORMAT* format) {
    auto* copy = static_cast<KSDATAFORMAT*>(ExAllocatePoolZero(format->FormatSize));
    if (copy) std::memcpy(copy, format, format->FormatSize);
    return copy;
}

KSFILTER_IMPL* FilterOf(KSPIN* pin) {
    return pin->Impl->filter->Impl;
}

bool ProcessingState(const KSPIN* pin, KSSTATE state) {
    if (state == KSSTATE_RUN) return true;
    return state == KSSTATE_PAUSE && !(pin->Impl->flags & KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY);
}

void DestroyPin(KSPIN* pin) {
    if (pin->Impl) {
        KsPinStopWorker(pin);
        if (pin->Impl->clock) pin->Impl->clock->Release();
    }
    KsFreeObjectBag(pin->Bag);
    ExFreePool(pin->ConnectionFormat);
    PoolDelete(pin->Impl);
    PoolDelete(pin);
}

NTSTATUS CallSetDataFormat(KSPIN* pin, KSDATAFORMAT* oldFormat, const KSDATARANGE* range) {
    const KSPIN_DISPATCH* dispatch = pin->Descriptor->Dispatch;
    if (!dispatch || !dispatch->SetDataFormat) return STATUS_SUCCESS;
    return dispatch->SetDataFormat(pin, oldFormat, nullptr, range, nullptr);
}

NTSTATUS CallClose(KSPIN* pin) {
    const KSPIN_DISPATCH* dispatch = pin->Descriptor->Dispatch;
    if (!dispatch || !dispatch->Close) return STATUS_SUCCESS;
    IRP irp{};
    KsInitializeObjectIrp(&irp, pin->Impl->filter, IRP_MJ_CLOSE);
    return dispatch->Close(pin, &irp);
}

// One step of the state walk: processing is stopped before a step out of the processing states,
// so that the minidriver never sees a pass while it leaves them, and started after a step in.
// With `force` the pin takes the new state even when the minidriver refuses it (the pin is
// closing and must reach stop); the minidriver's status is returned either way.
NTSTATUS StepState(KSPIN* pin, KSSTATE next, bool force) {
    KSSTATE from = pin->DeviceState;
    bool wasProcessing = ProcessingState(pin, from);
    bool willProcess = ProcessingState(pin, next);
    if (wasProcessing && !willProcess) KsPinDisableProcessing(pin);

    const KSPIN_DISPATCH* dispatch = pin->Descriptor->Dispatch;
    NTSTATUS status = dispatch && dispatch->SetDeviceState
                          ? dispatch->SetDeviceState(pin, next, from)
                          : STATUS_SUCCESS;
    if (!NT_SUCCESS(status) && !force) {
        if (wasProcessing && !willProcess) KsPinEnableProcessing(pin, false);
        return status;
    }
    pin->DeviceState = next;
    if (from == KSSTATE_STOP) KsPinSetFrameAcceptance(pin, true);
    if (next == KSSTATE_STOP) KsPinSetFrameAcceptance(pin, false);
    if (next == KSSTATE_RUN && pin->Impl->clock) pin->Impl->clock->Start();
    if (!wasProcessing && willProcess)
        KsPinEnableProcessing(pin, !(pin->Impl->flags & KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING));
    return status;
}

// Returns the first failure; without `force` the walk ends there.
NTSTATUS WalkState(KSPIN* pin, KSSTATE to, bool force) {
    NTSTATUS result = STATUS_SUCCESS;
    while (pin->DeviceState != to) {
        KSSTATE next = static_cast<KSSTATE>(pin->DeviceState + (pin->DeviceState < to ? 1 : -1));
        NTSTATUS status = StepState(pin, next, force);
        if (NT_SUCCESS(status)) continue;
        if (!force) return status;
        if (NT_SUCCESS(result)) result = status;
    }
    return result;
}

}  // namespace

const KSDATARANGE* KsPinMatchingDataRange(const KSPIN_DESCRIPTOR_EX* descriptor,
                                          const KSDATAFORMAT* format) {
    const KSPIN_DESCRIPTOR& pin = descriptor->PinDescriptor;
    for (uint32_t i = 0; pin.DataRanges && i < pin.DataRangesCount; ++i) {
        const KSDATARANGE* range = pin.DataRanges[i];
        if (range && GuidMatches(range->MajorFormat, format->MajorFormat) &&
            GuidMatches(range->SubFormat, format->SubFormat) &&
            GuidMatches(range->Specifier, format->Specifier))
            return range;
    }
    return nullptr;
}

KSDEVICE* KsGetDevice(KSPIN* pin) {
    return pin ? KsGetDevice(pin->Impl->filter) : nullptr;
}

KSFILTER* KsPinGetParentFilter(KSPIN* pin) {
    return pin ? pin->Impl->filter : nullptr;
}

NTSTATUS KsEditObject(KSPIN* pin, void** pointer, size_t size) {
    if (!pin) return STATUS_INVALID_PARAMETER;
    return KsEditBlock(pin->Bag, &pin->Impl->edited, pin, sizeof *pin, pointer, size);
}

NTSTATUS KsCreatePin(KSFILTER* filter, uint32_t pinId, const KSDATAFORMAT* format,
                     uint32_t formatBytes, bool referenceClock, KSPIN** out) {
    if (!out) return STATUS_INVALID_PARAMETER;
    *out = nullptr;
    if (!filter) return STATUS_INVALID_PARAMETER;
    KSFILTER_IMPL* owner = filter->Impl;
    std::lock_guard<std::mutex> guard(owner->control);

    const KSPIN_DESCRIPTOR_EX* descriptor = KsFilterPinDescriptor(filter->Descriptor, pinId);
    if (!descriptor || !FormatUsable(format, formatBytes)) return STATUS_INVALID_PARAMETER;
    if (owner->pinCounts[pinId] >= descriptor->InstancesPossible) return STATUS_DEVICE_BUSY;
    const KSDATARANGE* range = KsPinMatchingDataRange(descriptor, format);
    if (!range) return STATUS_NO_MATCH;

    auto* pin = PoolNew<KSPIN>();
    if (!pin) return STATUS_INSUFFICIENT_RESOURCES;
    pin->Descriptor = descriptor;
    pin->Id = pinId;
    pin->DataFlow = descriptor->PinDescriptor.DataFlow;
    pin->DeviceState = KSSTATE_STOP;
    pin->Impl = PoolNew<KSPIN_IMPL>();
    pin->Bag = KsCreateObjectBag();
    pin->ConnectionFormat = CopyFormat(format);
    if (!pin->Impl || !pin->Bag || !pin->ConnectionFormat) {
        DestroyPin(pin);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    pin->Impl->filter = filter;
    if (referenceClock && !(pin->Impl->clock = KsStreamClock::Create())) {
        DestroyPin(pin);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = CallSetDataFormat(pin, nullptr, range);
    if (NT_SUCCESS(status) && descriptor->Dispatch && descriptor->Dispatch->Create) {
        IRP irp{};
        KsInitializeObjectIrp(&irp, filter, IRP_MJ_CREATE);
        status = descriptor->Dispatch->Create(pin, &irp);
    }
    if (!NT_SUCCESS(status)) {
        DestroyPin(pin);
        return status;
    }
    status = KsPinStartWorker(pin);
    if (!NT_SUCCESS(status)) {
        CallClose(pin);  // undoes what the minidriver's Create did
        DestroyPin(pin);
        return status;
    }
    owner->pinCounts[pinId]++;
    owner->pins.push_back(pin);
    *out = pin;
    return STATUS_SUCCESS;
}

NTSTATUS KsClosePinLocked(KSPIN* pin) {
    WalkState(pin, KSSTATE_STOP, true);
    KsPinStopWorker(pin);
    NTSTATUS status = CallClose(pin);
    KSFILTER_IMPL* owner = FilterOf(pin);
    owner->pinCounts[pin->Id]--;
    owner->pins.erase(std::find(owner->pins.begin(), owner->pins.end(), pin));
    DestroyPin(pin);
    return status;
}

NTSTATUS KsClosePin(KSPIN* pin) {
    if (!pin) return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(FilterOf(pin)->control);
    return KsClosePinLocked(pin);
}

NTSTATUS KsPinChangeFormat(KSPIN* pin, const KSDATAFORMAT* format, uint32_t formatBytes) {
    if (!pin || !FormatUsable(format, formatBytes)) return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(FilterOf(pin)->control);
    const KSDATARANGE* range = KsPinMatchingDataRange(pin->Descriptor, format);
    if (!range) return STATUS_NO_MATCH;
    KSDATAFORMAT* replacement = CopyFormat(format);
    if (!replacement) return STATUS_INSUFFICIENT_RESOURCES;
    KSDATAFORMAT* old = pin->ConnectionFormat;
    pin->ConnectionFormat = replacement;
    NTSTATUS status = CallSetDataFormat(pin, old, range);
    if (!NT_SUCCESS(status)) {
        pin->ConnectionFormat = old;
        ExFreePool(replacement);
        return status;
    }
    ExFreePool(old);
    return STATUS_SUCCESS;
}

NTSTATUS KsPinChangeState(KSPIN* pin, KSSTATE state) {
    if (!pin || state < KSSTATE_STOP || state > KSSTATE_RUN) return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(FilterOf(pin)->control);
    return WalkState(pin, state, false);
}

}  // namespace bayercam
