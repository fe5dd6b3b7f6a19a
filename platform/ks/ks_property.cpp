#include "platform/ks/ks_property.h"

#include <algorithm>

namespace bayercam {
namespace {

const KSPROPERTY_SET* FindSet(const KSAUTOMATION_TABLE* table, const GUID& set) {
    for (uint32_t i = 0; table && table->PropertySets && i < table->PropertySetsCount; ++i) {
        const KSPROPERTY_SET& candidate = table->PropertySets[i];
        if (candidate.Set && *candidate.Set == set) return &candidate;
    }
    return nullptr;
}

// Items step by the table's PropertyItemSize when it is larger than the item record.
const KSPROPERTY_ITEM* FindItem(const KSAUTOMATION_TABLE* table, const KSPROPERTY_SET* set,
                                uint32_t id) {
    size_t stride = std::max<size_t>(table->PropertyItemSize, sizeof(KSPROPERTY_ITEM));
    auto* base = reinterpret_cast<const uint8_t*>(set->PropertyItem);
    for (uint32_t i = 0; base && i < set->PropertiesCount; ++i) {
        auto* item = reinterpret_cast<const KSPROPERTY_ITEM*>(base + i * stride);
        if (item->PropertyId == id) return item;
    }
    return nullptr;
}

}  // namespace

NTSTATUS KsDispatchProperty(const KSAUTOMATION_TABLE* table, IRP* irp, void* property,
                            uint32_t propertyBytes, void* data, uint32_t dataBytes,
                            uint32_t* bytesReturned) {
    if (!bytesReturned) return STATUS_INVALID_PARAMETER;
    *bytesReturned = 0;
    if (!irp || !property || (dataBytes > 0 && !data)) return STATUS_INVALID_PARAMETER;
    if (propertyBytes < sizeof(KSPROPERTY)) return STATUS_BUFFER_TOO_SMALL;
    const auto* request = static_cast<const KSPROPERTY*>(property);
    bool get = request->Flags == KSPROPERTY_TYPE_GET;
    if (!get && request->Flags != KSPROPERTY_TYPE_SET) return STATUS_INVALID_PARAMETER;

    const KSPROPERTY_SET* set = FindSet(table, request->Set);
    const KSPROPERTY_ITEM* item = set ? FindItem(table, set, request->Id) : nullptr;
    if (!item) return STATUS_NOT_FOUND;
    PFNKSHANDLER handler = get ? item->GetPropertyHandler : item->SetPropertyHandler;
    if (!handler) return STATUS_INVALID_DEVICE_REQUEST;
    if (propertyBytes < item->MinProperty) return STATUS_BUFFER_TOO_SMALL;
    if (dataBytes < item->MinData) {
        if (!get || dataBytes > 0) return STATUS_BUFFER_TOO_SMALL;
        *bytesReturned = item->MinData;
        return STATUS_BUFFER_OVERFLOW;
    }

    irp->IoStatus.Information = get ? dataBytes : 0;
    NTSTATUS status = handler(irp, property, data);
    irp->IoStatus.Status = status;
    // A handler's own size answer (STATUS_BUFFER_OVERFLOW) may exceed the buffer it was given.
    if (status == STATUS_BUFFER_OVERFLOW)
        *bytesReturned = static_cast<uint32_t>(irp->IoStatus.Information);
    else if (NT_SUCCESS(status))
        *bytesReturned =
            static_cast<uint32_t>(std::min<uintptr_t>(irp->IoStatus.Information, dataBytes));
    return status;
}

NTSTATUS KsFilterProperty(KSFILTER* filter, void* property, uint32_t propertyBytes, void* data,
                          uint32_t dataBytes, uint32_t* bytesReturned) {
    if (!filter) return STATUS_INVALID_PARAMETER;
    IRP irp{};
    KsInitializeObjectIrp(&irp, filter, IRP_MJ_DEVICE_CONTROL, IOCTL_KS_PROPERTY);
    return KsDispatchProperty(filter->Descriptor->AutomationTable, &irp, property, propertyBytes,
                              data, dataBytes, bytesReturned);
}

}  // namespace bayercam
