#include "usb/internal_request.h"

namespace bayercam {

NTSTATUS SendInternalRequest(DEVICE_OBJECT* lowerDevice, uint32_t ioControlCode, void* argument) {
    KEVENT event;
    KeInitializeEvent(&event, false);
    IO_STATUS_BLOCK ioStatus{};
    IRP* irp = IoBuildDeviceIoControlRequest(ioControlCode, lowerDevice, nullptr, 0, nullptr, 0,
                                             true, &event, &ioStatus);
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    IoGetNextIrpStackLocation(irp)->Parameters.Argument1 = argument;
    NTSTATUS status = IofCallDriver(lowerDevice, irp);
    // A bound on this wait (cancel on expiry) belongs here, the one place every request waits.
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, nullptr);
        status = ioStatus.Status;
    }
    return status;
}

}  // namespace bayercam
