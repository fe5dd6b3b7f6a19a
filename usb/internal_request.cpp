#include "usb/internal_request.h"

namespace bayercam {
namespace {

// Keeps the request with its sender when the lower driver completes it, so that a sender whose
// wait expired can still cancel it without racing its release.
NTSTATUS SignalSender(DEVICE_OBJECT*, IRP*, void* context) {
    KeSetEvent(static_cast<KEVENT*>(context));
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

NTSTATUS SendInternalRequest(DEVICE_OBJECT* lowerDevice, uint32_t ioControlCode, void* argument,
                             const int64_t* timeout) {
    KEVENT released;
    KeInitializeEvent(&released, false);
    IO_STATUS_BLOCK ioStatus{};
    IRP* irp = IoBuildDeviceIoControlRequest(ioControlCode, lowerDevice, nullptr, 0, nullptr, 0,
                                             true, &released, &ioStatus);
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    KEVENT completed;
    KeInitializeEvent(&completed, false);
    IoGetNextIrpStackLocation(irp)->Parameters.Argument1 = argument;
    IoSetCompletionRoutine(irp, &SignalSender, &completed, true, true, true);
    IofCallDriver(lowerDevice, irp);

    bool expired = KeWaitForSingleObject(&completed, timeout) == STATUS_TIMEOUT;
    if (expired) {
        IoCancelIrp(irp);
        KeWaitForSingleObject(&completed, nullptr);
    }
    NTSTATUS status = irp->IoStatus.Status;
    // Give the request back to the I/O manager, which releases it.
    IoCompleteRequest(irp, 0);
    return expired && !NT_SUCCESS(status) ? STATUS_TIMEOUT : status;
}

}  // namespace bayercam
