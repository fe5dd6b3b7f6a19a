#include "usb/chunked_read.h"

#include <algorithm>
#include <new>

#include "platform/kernel/pool.h"
#include "usb/bulk_transfer.h"
#include "usb/frame_timeout.h"
#include "usb/packet_transfer.h"
#include "usb/pipe_recovery.h"

namespace bayercam {
namespace {

// How the submission loop ended.
struct Submission {
    uint32_t submitted;  // requests passed to the lower device (a refused one included)
    NTSTATUS status;     // STATUS_SUCCESS, the refusal, STATUS_INSUFFICIENT_RESOURCES or
                         // STATUS_CANCELLED
};

NTSTATUS ValidateImagePipe(const UsbTarget& usb, const USBD_PIPE_INFORMATION** pipe) {
    const USBD_INTERFACE_INFORMATION* info = usb.interfaceInfo;
    if (!info) return STATUS_UNSUCCESSFUL;
    if (info->NumberOfPipes <= kImagePipe) return STATUS_INVALID_PARAMETER;
    const USBD_PIPE_INFORMATION& image = info->Pipes[kImagePipe];
    if (image.PipeType != UsbdPipeTypeBulk && image.PipeType != UsbdPipeTypeInterrupt) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!image.PipeHandle) return STATUS_UNSUCCESSFUL;
    *pipe = &image;
    return STATUS_SUCCESS;
}

// Allocates the chunk table and the descriptor of the whole buffer, and resets the counters and
// the event for a new read.
NTSTATUS PrepareRead(CameraDevice* device, uint32_t length, uint8_t* buffer) {
    uint32_t count = ChunkCountFor(length);
    KeAcquireSpinLock(&device->chunkLock);
    if (device->chunkTable) {
        // Only the capture thread reads; a second reader would share the one chunk table.
        KeReleaseSpinLock(&device->chunkLock);
        return STATUS_DEVICE_BUSY;
    }
    auto* table = static_cast<ChunkRequest*>(ExAllocatePoolZero(count * sizeof(ChunkRequest)));
    MDL* frameMdl = table ? IoAllocateMdl(buffer, length, false, false, nullptr) : nullptr;
    if (!frameMdl) {
        if (table) ExFreePool(table);
        device->chunkTable = nullptr;
        KeReleaseSpinLock(&device->chunkLock);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    for (uint32_t k = 0; k < count; ++k) new (&table[k]) ChunkRequest{};
    MmBuildMdlForNonPagedPool(frameMdl);
    device->chunkTable = table;
    device->chunksCompleted.store(0);
    device->chunkCount.store(static_cast<int32_t>(count));
    device->frameMdl = frameMdl;
    device->frameReadCancelled.store(0);
    KeResetEvent(&device->chunkDoneEvent);
    KeReleaseSpinLock(&device->chunkLock);
    return STATUS_SUCCESS;
}

// Fills `slot` with the request, partial descriptor and URB for `chunkLength` bytes at `offset`;
// false, with the slot left empty, when one of them cannot be allocated.
bool BuildChunk(CameraDevice* device, ChunkRequest* slot, const USBD_PIPE_INFORMATION& pipe,
                uint32_t offset, uint32_t chunkLength) {
    MDL* frameMdl = device->frameMdl;
    IRP* irp = IoAllocateIrp(static_cast<int8_t>(device->usb.lowerDevice->StackSize + 1), false);
    // Sized for the whole buffer, like the descriptor it is a part of.
    MDL* mdl =
        irp ? IoAllocateMdl(frameMdl->StartVa, frameMdl->ByteCount, false, false, irp) : nullptr;
    auto* urb = mdl ? static_cast<URB*>(ExAllocatePoolZero(sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER)))
                    : nullptr;
    if (!urb) {
        if (mdl) IoFreeMdl(mdl);
        if (irp) IoFreeIrp(irp);
        return false;
    }
    IoBuildPartialMdl(frameMdl, mdl, frameMdl->StartVa + offset, chunkLength);

    BuildBulkTransfer(urb, pipe, nullptr, mdl, chunkLength);

    slot->owner = device;
    slot->urb = urb;
    slot->irp = irp;
    slot->mdl = mdl;

    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Argument1 = urb;
    IoSetCompletionRoutine(irp, &ChunkCompletion, slot, true, true, true);
    return true;
}

// Queues every chunk request back to back under `chunkLock`, so that a cancel never sees a
// half-built slot.
Submission SubmitChunks(CameraDevice* device, const USBD_PIPE_INFORMATION& pipe, uint32_t length) {
    KeAcquireSpinLock(&device->chunkLock);
    ChunkRequest* table = device->chunkTable;
    auto count = static_cast<uint32_t>(device->chunkCount.load());
    Submission result{0, STATUS_SUCCESS};
    if (device->frameReadCancelled.load()) result.status = STATUS_CANCELLED;
    for (uint32_t k = 0; k < count && result.status == STATUS_SUCCESS; ++k) {
        uint32_t offset = k * kChunkBytes;
        if (!BuildChunk(device, &table[k], pipe, offset, std::min(kChunkBytes, length - offset))) {
            result.status = STATUS_INSUFFICIENT_RESOURCES;
            break;
        }
        ++result.submitted;
        NTSTATUS status = IofCallDriver(device->usb.lowerDevice, table[k].irp);
        if (!NT_SUCCESS(status)) result.status = status;
    }
    // The slots never submitted count as completed at once, so the event is set when the last
    // request that really went out completes.
    uint32_t unsubmitted = count - result.submitted;
    if (unsubmitted > 0) {
        auto done = static_cast<uint32_t>(
            device->chunksCompleted.fetch_add(static_cast<int32_t>(unsubmitted)) + unsubmitted);
        if (done >= count) KeSetEvent(&device->chunkDoneEvent);
    }
    KeReleaseSpinLock(&device->chunkLock);
    return result;
}

// The outcome of a read whose requests all completed in time: a frame counts only when every
// chunk request succeeded with all of its bytes, so that no stale bytes of an older frame are
// delivered.
NTSTATUS FrameResult(CameraDevice* device, NTSTATUS submission, uint32_t length) {
    if (device->frameReadCancelled.load()) return STATUS_CANCELLED;
    if (!NT_SUCCESS(submission)) return submission;
    const ChunkRequest* table = device->chunkTable;
    uint64_t bytes = 0;
    for (int32_t k = 0; k < device->chunkCount.load(); ++k) {
        const IRP* irp = table[k].irp;
        if (!NT_SUCCESS(irp->IoStatus.Status)) return irp->IoStatus.Status;
        bytes += irp->IoStatus.Information;
    }
    return bytes == length ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

// True when a chunk request ended in an error that leaves the pipe halted: until it is reset,
// every later read on it would fail at once.
bool ChunkHaltedThePipe(const CameraDevice* device) {
    const ChunkRequest* table = device->chunkTable;
    for (int32_t k = 0; k < device->chunkCount.load(); ++k) {
        if (table[k].urb && HaltsThePipe(table[k].urb->UrbHeader.Status)) return true;
    }
    return false;
}

void RecoverImagePipe(CameraDevice* device) {
    if (!NT_SUCCESS(ResetImagePipe(&device->usb))) ResetPortIfDisabled(&device->usb);
}

}  // namespace

NTSTATUS ReadFrameChunked(CameraDevice* device, uint32_t length, uint8_t* buffer) {
    const USBD_PIPE_INFORMATION* pipe = nullptr;
    NTSTATUS status = ValidateImagePipe(device->usb, &pipe);
    if (!NT_SUCCESS(status)) return status;
    // Without a frame size (no capture started) there is nothing to wait for.
    if (length == 0 || !buffer) return STATUS_INVALID_PARAMETER;
    status = PrepareRead(device, length, buffer);
    if (!NT_SUCCESS(status)) return status;

    SendFrameMark(device, false);
    Submission submission = SubmitChunks(device, *pipe, length);
    if (submission.status == STATUS_INSUFFICIENT_RESOURCES) {
        // The requests already queued must be back before their table is released.
        CancelChunkRequests(device);
        FreeChunkRequests(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    SendFrameMark(device, true);
    if (!NT_SUCCESS(submission.status) && submission.status != STATUS_CANCELLED) {
        RecoverImagePipe(device);
    }

    int64_t timeout = RelativeTimeoutMs(GetFrameTimeoutMs());
    if (KeWaitForSingleObject(&device->chunkDoneEvent, &timeout) == STATUS_TIMEOUT) {
        CancelChunkRequests(device);
        status = STATUS_TIMEOUT;
    } else {
        status = FrameResult(device, submission.status, length);
        if (NT_SUCCESS(submission.status) && ChunkHaltedThePipe(device)) RecoverImagePipe(device);
    }
    FreeChunkRequests(device);
    return status;
}

NTSTATUS ChunkCompletion(DEVICE_OBJECT*, IRP* irp, void* context) {
    if (!irp) return STATUS_SUCCESS;
    auto* slot = static_cast<ChunkRequest*>(context);
    if (!slot || !slot->owner || slot->irp != irp || !slot->urb) return irp->IoStatus.Status;
    CameraDevice* device = slot->owner;
    irp->IoStatus.Information = NT_SUCCESS(irp->IoStatus.Status)
                                    ? slot->urb->UrbBulkOrInterruptTransfer.TransferBufferLength
                                    : 0;
    slot->completed.fetch_add(1);
    // The count is this read's until this request is counted; once it is, the read may release
    // the slot and the request, so neither is touched after the add.
    int32_t count = device->chunkCount.load();
    if (device->chunksCompleted.fetch_add(1) + 1 >= count) KeSetEvent(&device->chunkDoneEvent);
    // The request stays with the read, which frees it.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

void CancelChunkRequests(CameraDevice* device) {
    KeAcquireSpinLock(&device->chunkLock);
    ChunkRequest* table = device->chunkTable;
    if (!table) {
        KeReleaseSpinLock(&device->chunkLock);
        return;
    }
    device->frameReadCancelled.store(1);
    int32_t count = device->chunkCount.load();
    for (int32_t k = 0; k < count; ++k) {
        if (table[k].completed.load() == 0 && table[k].irp) IoCancelIrp(table[k].irp);
    }
    KeReleaseSpinLock(&device->chunkLock);
    // Wait even when nothing was left to cancel: a request whose slot reads completed may still
    // be on its way to the count, and only the event proves that none is in flight.
    KeWaitForSingleObject(&device->chunkDoneEvent, nullptr);
}

void FreeChunkRequests(CameraDevice* device) {
    KeAcquireSpinLock(&device->chunkLock);
    if (ChunkRequest* table = device->chunkTable) {
        for (int32_t k = 0; k < device->chunkCount.load(); ++k) {
            ChunkRequest& slot = table[k];
            if (slot.irp) IoFreeIrp(slot.irp);
            if (slot.mdl) IoFreeMdl(slot.mdl);
            if (slot.urb) ExFreePool(slot.urb);
            slot.irp = nullptr;
            slot.mdl = nullptr;
            slot.urb = nullptr;
        }
        ExFreePool(table);
    }
    device->chunkTable = nullptr;
    if (device->frameMdl) IoFreeMdl(device->frameMdl);
    device->frameMdl = nullptr;
    KeReleaseSpinLock(&device->chunkLock);
}

}  // namespace bayercam
