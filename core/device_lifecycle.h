// The driver entry and the device's start and stop, as the streaming class driver calls them.
#pragma once

#include "platform/ks/ks.h"

namespace bayercam {

// The dispatch table (Add, Start, Stop) and no static filters: the one filter comes from the
// factory created at start.
extern const KSDEVICE_DESCRIPTOR CameraDeviceDescriptor;

NTSTATUS DriverEntry(DRIVER_OBJECT* driverObject, const char* registryPath);
NTSTATUS DeviceStart(KSDEVICE* ksDevice, IRP* irp, void* translatedResources,
                     void* untranslatedResources);
void DeviceStop(KSDEVICE* ksDevice, IRP* irp);

}  // namespace bayercam
