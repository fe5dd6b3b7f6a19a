#include "platform/kernel/irp.h"

#include <cstdio>
#include <cstdlib>

#include "platform/kernel/pool.h"

namespace bayercam {
namespace {

// The kernel stops the machine on these driver bugs; the stand-in stops the process.
[[noreturn]] void BugCheck(const char* what) {
    std::fprintf(stderr, "bugcheck: %s\n", what);
    std::abort();
}

IO_STACK_LOCATION* Location(IRP* irp, int location) {
    return location >= 1 && location <= irp->StackCount ? &irp->Stack[location - 1] : nullptr;
}

bool ShouldInvoke(const IRP* irp, uint8_t control) {
    NTSTATUS status = irp->IoStatus.Status;
    return (NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
           (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
           (irp->Cancel.load() && (control & SL_INVOKE_ON_CANCEL));
}

}  // namespace

IRP* IoAllocateIrp(int8_t stackSize, bool) {
    if (stackSize < 1 || stackSize > kMaxIrpStackSize) return nullptr;
    IRP* irp = PoolNew<IRP>();
    if (!irp) return nullptr;
    irp->StackCount = stackSize;
    irp->CurrentLocation = static_cast<int8_t>(stackSize + 1);
    return irp;
}

void IoFreeIrp(IRP* irp) {
    PoolDelete(irp);
}

IRP* IoBuildDeviceIoControlRequest(uint32_t ioControlCode, DEVICE_OBJECT* device, void*, uint32_t,
                                   void*, uint32_t, bool internalDeviceIoControl, KEVENT* event,
                                   IO_STATUS_BLOCK* ioStatusBlock) {
    if (!device) return nullptr;
    IRP* irp = IoAllocateIrp(device->StackSize, false);
    if (!irp) return nullptr;
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction =
        internalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    next->Parameters.IoControlCode = ioControlCode;
    irp->UserEvent = event;
    irp->UserIosb = ioStatusBlock;
    irp->Synchronous = true;
    return irp;
}

IO_STACK_LOCATION* IoGetNextIrpStackLocation(IRP* irp) {
    return Location(irp, irp->CurrentLocation - 1);
}

IO_STACK_LOCATION* IoGetCurrentIrpStackLocation(IRP* irp) {
    return Location(irp, irp->CurrentLocation);
}

void IoSetCompletionRoutine(IRP* irp, PIO_COMPLETION_ROUTINE routine, void* context,
                            bool invokeOnSuccess, bool invokeOnError, bool invokeOnCancel) {
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->CompletionRoutine = routine;
    next->Context = context;
    next->Control = static_cast<uint8_t>((invokeOnSuccess ? SL_INVOKE_ON_SUCCESS : 0) |
                                         (invokeOnError ? SL_INVOKE_ON_ERROR : 0) |
                                         (invokeOnCancel ? SL_INVOKE_ON_CANCEL : 0));
}

void IoMarkIrpPending(IRP* irp) {
    IO_STACK_LOCATION* current = IoGetCurrentIrpStackLocation(irp);
    if (current) current->Control |= SL_PENDING_RETURNED;
}

NTSTATUS IofCallDriver(DEVICE_OBJECT* device, IRP* irp) {
    if (irp->CurrentLocation <= 1) BugCheck("no more request stack locations");
    --irp->CurrentLocation;
    IO_STACK_LOCATION* current = IoGetCurrentIrpStackLocation(irp);
    current->DeviceObject = device;
    if (current->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL && device->InternalDeviceControl) {
        return device->InternalDeviceControl(device, irp);
    }
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, 0);
    return STATUS_INVALID_DEVICE_REQUEST;
}

void IoCompleteRequest(IRP* irp, int8_t) {
    // Walk up from the completing driver's location; each completion routine sits in the location
    // of the driver below the one that set it and runs with the upper driver's device object.
    while (irp->CurrentLocation <= irp->StackCount) {
        IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
        irp->PendingReturned = (location->Control & SL_PENDING_RETURNED) != 0;
        PIO_COMPLETION_ROUTINE routine = location->CompletionRoutine;
        void* context = location->Context;
        bool invoke = routine && ShouldInvoke(irp, location->Control);
        location->CompletionRoutine = nullptr;
        location->Control = 0;
        ++irp->CurrentLocation;
        IO_STACK_LOCATION* upper = IoGetCurrentIrpStackLocation(irp);
        if (invoke) {
            if (routine(upper ? upper->DeviceObject : nullptr, irp, context) ==
                STATUS_MORE_PROCESSING_REQUIRED) {
                return;
            }
        } else if (irp->PendingReturned && upper) {
            upper->Control |= SL_PENDING_RETURNED;
        }
    }
    if (irp->Synchronous) {
        // The request's builder waits on the event and owns the status block; the request is
        // the I/O manager's to free.
        if (irp->UserIosb) *irp->UserIosb = irp->IoStatus;
        KEVENT* event = irp->UserEvent;
        IoFreeIrp(irp);
        if (event) KeSetEvent(event);
    }
}

bool IoCancelIrp(IRP* irp) {
    irp->Cancel.store(true);
    PDRIVER_CANCEL routine = irp->CancelRoutine.exchange(nullptr);
    if (!routine) return false;
    IO_STACK_LOCATION* current = IoGetCurrentIrpStackLocation(irp);
    routine(current ? current->DeviceObject : nullptr, irp);
    return true;
}

PDRIVER_CANCEL IoSetCancelRoutine(IRP* irp, PDRIVER_CANCEL routine) {
    return irp->CancelRoutine.exchange(routine);
}

MDL* IoAllocateMdl(void* virtualAddress, uint32_t length, bool secondaryBuffer, bool, IRP* irp) {
    MDL* mdl = PoolNew<MDL>();
    if (!mdl) return nullptr;
    mdl->StartVa = static_cast<uint8_t*>(virtualAddress);
    mdl->ByteCount = length;
    mdl->Size = length;
    if (irp) {
        if (!secondaryBuffer || !irp->MdlAddress) {
            irp->MdlAddress = mdl;
        } else {
            MDL* last = irp->MdlAddress;
            while (last->Next) last = last->Next;
            last->Next = mdl;
        }
    }
    return mdl;
}

// Non-paged memory is always resident; there is nothing to lock or map.
void MmBuildMdlForNonPagedPool(MDL*) {}

void IoBuildPartialMdl(MDL* source, MDL* target, void* virtualAddress, uint32_t length) {
    auto* start = static_cast<uint8_t*>(virtualAddress);
    if (start < source->StartVa || start > source->StartVa + source->ByteCount) {
        BugCheck("partial descriptor starts outside its source");
    }
    auto offset = static_cast<uint32_t>(start - source->StartVa);
    if (length == 0) length = source->ByteCount - offset;
    if (length > source->ByteCount - offset) BugCheck("partial descriptor ends past its source");
    if (length > target->Size) BugCheck("partial descriptor larger than its target");
    target->StartVa = start;
    target->ByteCount = length;
}

void IoFreeMdl(MDL* mdl) {
    PoolDelete(mdl);
}

void* MmGetSystemAddressForMdlSafe(MDL* mdl) {
    return mdl ? mdl->StartVa : nullptr;
}

}  // namespace bayercam
