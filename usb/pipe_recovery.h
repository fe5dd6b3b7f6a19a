// Recovery requests: pipe aborts, the image pipe reset and the port reset.
#pragma once

#include "platform/kernel/ntstatus.h"
#include "usb/usb_target.h"

namespace bayercam {

struct CameraDevice;

// Aborts every pipe whose abort mark is set and clears the mark of each abort that succeeds.
void AbortMarkedPipes(CameraDevice* device);
// Clears a halt on the image pipe and resets its host side.
NTSTATUS ResetImagePipe(UsbTarget* usb);
// Resets the port when it reports connected but not enabled.
NTSTATUS ResetPortIfDisabled(UsbTarget* usb);

}  // namespace bayercam
