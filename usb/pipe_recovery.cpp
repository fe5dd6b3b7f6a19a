#include "usb/pipe_recovery.h"

#include "core/camera_device.h"
#include "platform/kernel/pool.h"
#include "usb/internal_request.h"
#include "usb/usb_configuration.h"

namespace bayercam {
namespace {

// A pipe request of `function` on `pipe`, sent and freed; `*allocated` tells whether it went out.
NTSTATUS SendPipeRequest(UsbTarget* usb, uint16_t function, USBD_PIPE_HANDLE pipe,
                         bool* allocated) {
    auto* urb = static_cast<URB*>(ExAllocatePoolZero(sizeof(_URB_PIPE_REQUEST)));
    *allocated = urb != nullptr;
    if (!urb) return STATUS_INSUFFICIENT_RESOURCES;
    urb->UrbHeader.Length = sizeof(_URB_PIPE_REQUEST);
    urb->UrbHeader.Function = function;
    urb->UrbPipeRequest.PipeHandle = pipe;
    NTSTATUS status = SubmitUrbSync(usb, urb);
    ExFreePool(urb);
    return status;
}

}  // namespace

void AbortMarkedPipes(CameraDevice* device) {
    UsbTarget* usb = &device->usb;
    if (!usb->interfaceInfo || !usb->pipeAbortMarks) return;
    for (uint32_t i = 0; i < usb->interfaceInfo->NumberOfPipes; ++i) {
        if (!usb->pipeAbortMarks[i]) continue;
        bool allocated;
        NTSTATUS status = SendPipeRequest(usb, URB_FUNCTION_ABORT_PIPE,
                                          usb->interfaceInfo->Pipes[i].PipeHandle, &allocated);
        if (!allocated) return;
        if (NT_SUCCESS(status)) usb->pipeAbortMarks[i] = 0;
    }
}

NTSTATUS ResetPipe(UsbTarget* usb, uint32_t pipeIndex) {
    if (!usb->interfaceInfo) return STATUS_UNSUCCESSFUL;
    if (usb->interfaceInfo->NumberOfPipes <= pipeIndex) return STATUS_INVALID_PARAMETER;
    bool allocated;
    return SendPipeRequest(usb, URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL,
                           usb->interfaceInfo->Pipes[pipeIndex].PipeHandle, &allocated);
}

NTSTATUS ResetImagePipe(UsbTarget* usb) {
    return ResetPipe(usb, kImagePipe);
}

bool HaltsThePipe(USBD_STATUS status) {
    return !USBD_SUCCESS(status) && status != USBD_STATUS_CANCELED &&
           status != USBD_STATUS_DEVICE_GONE;
}

NTSTATUS ResetPortIfDisabled(UsbTarget* usb) {
    uint32_t portStatus = 0;
    NTSTATUS status =
        SendInternalRequest(usb->lowerDevice, IOCTL_INTERNAL_USB_GET_PORT_STATUS, &portStatus);
    if (!NT_SUCCESS(status)) return status;
    if ((portStatus & USBD_PORT_ENABLED) || !(portStatus & USBD_PORT_CONNECTED)) return status;
    return SendInternalRequest(usb->lowerDevice, IOCTL_INTERNAL_USB_RESET_PORT, nullptr);
}

}  // namespace bayercam
