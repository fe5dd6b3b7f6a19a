// Handlers of the properties that run camera operations: the controls, the region of interest,
// direct register access and the camera's re-initialisation.
#pragma once

#include "platform/kernel/irp.h"
#include "platform/kernel/ntstatus.h"

namespace bayercam {

NTSTATUS SetTimeoutProperty(IRP* irp, void* property, void* data);
NTSTATUS SetExposureProperty(IRP* irp, void* property, void* data);
NTSTATUS SetGlobalGainProperty(IRP* irp, void* property, void* data);
NTSTATUS SetRegionOfInterest(IRP* irp, void* property, void* data);
NTSTATUS GetClockProperty(IRP* irp, void* property, void* data);
NTSTATUS SetClockProperty(IRP* irp, void* property, void* data);
// The write-only and send-only properties (57, 59): a get always fails.
NTSTATUS GetUnreadable(IRP* irp, void* property, void* data);
NTSTATUS SetSensorRegisterWrite(IRP* irp, void* property, void* data);
NTSTATUS GetRegisterShadow(IRP* irp, void* property, void* data);
NTSTATUS SetRawCommand(IRP* irp, void* property, void* data);
NTSTATUS GetMemoryByte(IRP* irp, void* property, void* data);
NTSTATUS SetReinitialize(IRP* irp, void* property, void* data);

}  // namespace bayercam
