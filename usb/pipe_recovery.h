// Recovery requests: pipe aborts, the image pipe reset and the port reset.
#pragma once

#include "platform/kernel/ntstatus.h"
#include "usb/usb_target.h"

namespace bayercam {

struct CameraDevice;

// Aborts every pipe whose abort mark is set and clears the mark of each abort that succeeds.
void AbortMarkedPipes(CameraDevice* device);
// Clears a halt on pipe `pipeIndex` of the interface and resets its host side.
NTSTATUS ResetPipe(UsbTarget* usb, uint32_t pipeIndex);
NTSTATUS ResetImagePipe(UsbTarget* usb);
// True for the transfer errors after which the host keeps the pipe halted until it is reset (a
// stall, a babble, no answer); false for success, a cancellation and a device that is gone.
bool HaltsThePipe(USBD_STATUS status);
// Resets the port when it reports connected but not enabled.
NTSTATUS ResetPortIfDisabled(UsbTarget* usb);

}  // namespace bayercam
