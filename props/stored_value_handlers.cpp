#include "props/stored_value_handlers.h"

namespace bayercam {

NTSTATUS SetNothing(IRP* irp, void* property, void* data) {
    return WithRequestDevice(irp, property, data, [](CameraDevice*) { return STATUS_SUCCESS; });
}

}  // namespace bayercam
