// I/O request packets, device objects and memory descriptors: the kernel's request plumbing,
// as far as the driver relies on it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/kernel/ntstatus.h"
#include "platform/kernel/sync.h"

namespace bayercam {

struct IRP;
struct DEVICE_OBJECT;
struct MDL;

struct IO_STATUS_BLOCK {
    NTSTATUS Status;
    uintptr_t Information;
};

using PIO_COMPLETION_ROUTINE = NTSTATUS (*)(DEVICE_OBJECT* device, IRP* irp, void* context);
using PDRIVER_CANCEL = void (*)(DEVICE_OBJECT* device, IRP* irp);
using PDRIVER_DISPATCH = NTSTATUS (*)(DEVICE_OBJECT* device, IRP* irp);

constexpr uint8_t IRP_MJ_DEVICE_CONTROL = 0x0E;
constexpr uint8_t IRP_MJ_INTERNAL_DEVICE_CONTROL = 0x0F;

constexpr uint8_t SL_INVOKE_ON_CANCEL = 0x20;
constexpr uint8_t SL_INVOKE_ON_SUCCESS = 0x40;
constexpr uint8_t SL_INVOKE_ON_ERROR = 0x80;
constexpr uint8_t SL_PENDING_RETURNED = 0x01;

struct IO_STACK_LOCATION {
    uint8_t MajorFunction;
    uint8_t Control;
    struct {
        uint32_t IoControlCode;
        void* Argument1;  // the URB, or the port status
        void* Argument2;
    } Parameters;
    DEVICE_OBJECT* DeviceObject;
    PIO_COMPLETION_ROUTINE CompletionRoutine;
    void* Context;
};

constexpr int kMaxIrpStackSize = 4;

struct IRP {
    IO_STATUS_BLOCK IoStatus;
    std::atomic<bool> Cancel;
    std::atomic<PDRIVER_CANCEL> CancelRoutine;
    bool PendingReturned;
    int8_t StackCount;
    // StackCount + 1 before the first IofCallDriver, 1 at the bottom. Atomic because a cancel
    // reads it while the completion moves it up.
    std::atomic<int8_t> CurrentLocation;
    IO_STACK_LOCATION Stack[kMaxIrpStackSize];
    // Set by IoBuildDeviceIoControlRequest: completion copies the status here, sets the event
    // and frees the request.
    KEVENT* UserEvent;
    IO_STATUS_BLOCK* UserIosb;
    bool Synchronous;
    // The descriptor attached by IoAllocateMdl; the request does not free it.
    MDL* MdlAddress;
    // For the driver that currently owns the request.
    void* DriverContext[4];
};

struct DEVICE_OBJECT {
    int8_t StackSize;
    PDRIVER_DISPATCH InternalDeviceControl;  // the dispatch routine of this device's driver
    void* DeviceExtension;
};

// A request with `stackSize` locations (at most kMaxIrpStackSize), or null.
IRP* IoAllocateIrp(int8_t stackSize, bool chargeQuota);
void IoFreeIrp(IRP* irp);
// Builds a device-control request for `device`; freed by the I/O manager when it completes.
IRP* IoBuildDeviceIoControlRequest(uint32_t ioControlCode, DEVICE_OBJECT* device, void* inputBuffer,
                                   uint32_t inputLength, void* outputBuffer, uint32_t outputLength,
                                   bool internalDeviceIoControl, KEVENT* event,
                                   IO_STATUS_BLOCK* ioStatusBlock);
IO_STACK_LOCATION* IoGetNextIrpStackLocation(IRP* irp);
IO_STACK_LOCATION* IoGetCurrentIrpStackLocation(IRP* irp);
void IoSetCompletionRoutine(IRP* irp, PIO_COMPLETION_ROUTINE routine, void* context,
                            bool invokeOnSuccess, bool invokeOnError, bool invokeOnCancel);
void IoMarkIrpPending(IRP* irp);
// Passes the request to `device`'s driver (moves to the next stack location).
NTSTATUS IofCallDriver(DEVICE_OBJECT* device, IRP* irp);
// Completes the request: runs the completion routines from the bottom up; a routine that returns
// STATUS_MORE_PROCESSING_REQUIRED keeps the request with its owner.
void IoCompleteRequest(IRP* irp, int8_t priorityBoost);
// Sets the cancel flag and runs the cancel routine, if one is set. True when a routine ran.
bool IoCancelIrp(IRP* irp);
PDRIVER_CANCEL IoSetCancelRoutine(IRP* irp, PDRIVER_CANCEL routine);

// Memory descriptor of a buffer in non-paged memory. A partial descriptor describes part of
// another descriptor's buffer; nothing is copied.
struct MDL {
    uint8_t* StartVa;
    uint32_t ByteCount;
    MDL* Next;
    uint32_t Size;  // bytes this descriptor can describe, fixed when it is allocated
};

MDL* IoAllocateMdl(void* virtualAddress, uint32_t length, bool secondaryBuffer, bool chargeQuota,
                   IRP* irp);
void MmBuildMdlForNonPagedPool(MDL* mdl);
// `length` 0 describes the rest of the source buffer from `virtualAddress`. A range outside the
// source or larger than the target can describe is a driver bug and stops the process.
void IoBuildPartialMdl(MDL* source, MDL* target, void* virtualAddress, uint32_t length);
void IoFreeMdl(MDL* mdl);
void* MmGetSystemAddressForMdlSafe(MDL* mdl);

}  // namespace bayercam
