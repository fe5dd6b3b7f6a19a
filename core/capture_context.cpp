#include "core/capture_context.h"

#include "core/camera_device.h"
#include "platform/kernel/pool.h"
#include "platform/ks/ks.h"

namespace bayercam {
namespace {

void FreeCaptureContext(void* context) {
    PoolDelete(static_cast<CaptureContext*>(context));
}

}  // namespace

CaptureContext* CreateCaptureContext(CameraDevice* device) {
    auto* context = PoolNew<CaptureContext>();
    if (!context) return nullptr;
    context->device = device;
    KeInitializeEvent(&context->processDone, false);
    KeInitializeSpinLock(&context->bufferStateLock);
    if (!NT_SUCCESS(KsAddItemToObjectBag(device->ksDevice->Bag, context, &FreeCaptureContext))) {
        PoolDelete(context);
        return nullptr;
    }
    return context;
}

}  // namespace bayercam
