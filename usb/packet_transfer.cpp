#include "usb/packet_transfer.h"

#include "core/camera_device.h"
#include "platform/kernel/pool.h"
#include "usb/bulk_transfer.h"
#include "usb/internal_request.h"
#include "usb/pipe_recovery.h"

namespace bayercam {
namespace {

#ifndef BAYERCAM_FUZZ_PACKET_TIMEOUT_MS
constexpr uint32_t kPacketTimeoutMs = 1000;
#else
// Fuzz builds wait less: their camera answers at once or leaves the answer out on purpose, and a
// second per silence was most of a fuzz run.
constexpr uint32_t kPacketTimeoutMs = BAYERCAM_FUZZ_PACKET_TIMEOUT_MS;
#endif

// A 64-byte transfer on `pipe` from or into `buffer`, direction from the endpoint address.
URB* BuildPacketUrb(const USBD_PIPE_INFORMATION& pipe, uint8_t* buffer) {
    auto* urb = static_cast<URB*>(ExAllocatePoolZero(sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER)));
    if (!urb) return nullptr;
    BuildBulkTransfer(urb, pipe, buffer, nullptr, kPacketBytes);
    return urb;
}

// Sends the URB and waits for it at most kPacketTimeoutMs.
NTSTATUS SubmitPacketUrb(CameraDevice* device, URB* urb) {
    const int64_t bound = RelativeTimeoutMs(kPacketTimeoutMs);
    return SendInternalRequest(device->usb.lowerDevice, IOCTL_INTERNAL_USB_SUBMIT_URB, urb, &bound);
}

// One whole packet on `pipeIndex`, or a failed packet counted.
bool MoveWholePacket(CameraDevice* device, uint32_t pipeIndex, uint8_t* buffer) {
    uint32_t transferred;
    bool whole = TransferPacket(device, pipeIndex, buffer, &transferred) == STATUS_SUCCESS &&
                 transferred == kPacketBytes;
    if (!whole) device->failedPackets.fetch_add(1);
    return whole;
}

}  // namespace

NTSTATUS TransferPacket(CameraDevice* device, uint32_t pipeIndex, uint8_t* buffer,
                        uint32_t* transferred) {
    *transferred = 0;
    const USBD_INTERFACE_INFORMATION* info = device->usb.interfaceInfo;
    if (!info) return STATUS_UNSUCCESSFUL;
    if (info->NumberOfPipes == 0 || pipeIndex >= info->NumberOfPipes) {
        return STATUS_INVALID_PARAMETER;
    }
    const USBD_PIPE_INFORMATION& pipe = info->Pipes[pipeIndex];
    if (pipe.PipeType != UsbdPipeTypeBulk && pipe.PipeType != UsbdPipeTypeInterrupt) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!pipe.PipeHandle) return STATUS_UNSUCCESSFUL;
    if (pipe.MaximumTransferSize < kPacketBytes) return STATUS_INVALID_PARAMETER;

    URB* urb = BuildPacketUrb(pipe, buffer);
    if (!urb) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = SubmitPacketUrb(device, urb);
    // STATUS_TIMEOUT counts as a success code in NT terms, but the packet did not move.
    if (status == STATUS_SUCCESS) {
        if (!USBD_SUCCESS(urb->UrbHeader.Status)) {
            status = STATUS_UNSUCCESSFUL;
        } else {
            *transferred = urb->UrbBulkOrInterruptTransfer.TransferBufferLength;
        }
    }
    // Otherwise the halt would fail every later packet on the pipe.
    if (HaltsThePipe(urb->UrbHeader.Status)) ResetPipe(&device->usb, pipeIndex);
    ExFreePool(urb);
    return status;
}

bool SendCommand(CameraDevice* device, uint8_t* buffer) {
    return buffer && MoveWholePacket(device, kCommandPipe, buffer);
}

bool ReadResponse(CameraDevice* device, uint8_t* buffer) {
    return buffer && MoveWholePacket(device, kResponsePipe, buffer);
}

void SendFrameMark(CameraDevice* device, bool end) {
    const USBD_INTERFACE_INFORMATION* info = device->usb.interfaceInfo;
    if (!info || info->NumberOfPipes == 0 || !info->Pipes[kCommandPipe].PipeHandle) return;
    device->frameMarkPacket[0] = end ? kFrameEndMark : kFrameStartMark;
    URB* urb = BuildPacketUrb(info->Pipes[kCommandPipe], device->frameMarkPacket);
    if (!urb) return;
    SubmitPacketUrb(device, urb);
    ExFreePool(urb);
}

}  // namespace bayercam
