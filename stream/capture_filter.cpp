#include "stream/capture_filter.h"

#include "core/camera_device.h"
#include "platform/kernel/pool.h"
#include "platform/ks/ks_filter.h"
#include "settings/settings_store.h"
#include "stream/capture_pin.h"
#include "stream/filter_automation.h"

namespace bayercam {
namespace {

const KSFILTER_DISPATCH kFilterDispatch = {&FilterCreate, &FilterClose, nullptr, nullptr};

const GUID kFilterCategories[] = {KSCATEGORY_VIDEO, KSCATEGORY_CAPTURE};

void FreeFilterContext(void* record) {
    PoolDelete(static_cast<FilterContext*>(record));
}

}  // namespace

const KSFILTER_DESCRIPTOR CaptureFilterDescriptor = {
    &kFilterDispatch,
    &FilterAutomationTable,
    KSFILTER_DESCRIPTOR_VERSION,
    0,  // Flags
    &KSNAME_Filter,
    1,  // PinDescriptorsCount
    sizeof(KSPIN_DESCRIPTOR_EX),
    &CapturePinDescriptor,
    2,  // CategoriesCount
    kFilterCategories,
    0,        // NodeDescriptorsCount
    0,        // NodeDescriptorSize
    nullptr,  // NodeDescriptors
    0,        // ConnectionsCount
    nullptr,  // Connections
    nullptr,  // ComponentId
};

NTSTATUS FilterCreate(KSFILTER* filter, IRP*) {
    auto* context = PoolNew<FilterContext>();
    if (!context) return STATUS_INSUFFICIENT_RESOURCES;
    context->filter = filter;
    NTSTATUS status = KsAddItemToObjectBag(filter->Bag, context, &FreeFilterContext);
    if (!NT_SUCCESS(status)) {
        PoolDelete(context);
        return status;
    }
    filter->Context = context;
    return STATUS_SUCCESS;
}

NTSTATUS FilterClose(KSFILTER* filter, IRP*) {
    if (CameraDevice* device = GetCameraDevice(KsGetDevice(filter))) SaveSettings(device);
    return STATUS_SUCCESS;
}

}  // namespace bayercam
