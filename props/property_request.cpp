#include "props/property_request.h"

#include "platform/ks/ks_filter.h"

namespace bayercam {

CameraDevice* RequestDevice(IRP* irp) {
    if (!irp) return nullptr;
    return GetCameraDevice(KsGetDevice(KsGetFilterFromIrp(irp)));
}

}  // namespace bayercam
