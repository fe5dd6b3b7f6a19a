#include "platform/usb_stack/usb_descriptors.h"

#include <cstddef>

#include "platform/kernel/pool.h"

namespace bayercam {
namespace {

const uint8_t* ConfigurationEnd(const USB_CONFIGURATION_DESCRIPTOR* config) {
    const auto* begin = reinterpret_cast<const uint8_t*>(config);
    // A header that does not even cover itself leaves nothing to walk.
    if (config->wTotalLength < sizeof(USB_CONFIGURATION_DESCRIPTOR)) return begin;
    return begin + config->wTotalLength;
}

// The size a descriptor of this type must at least have to be read as its structure.
uint8_t MinimumLength(uint8_t type) {
    switch (type) {
        case USB_INTERFACE_DESCRIPTOR_TYPE:
            return sizeof(USB_INTERFACE_DESCRIPTOR);
        case USB_ENDPOINT_DESCRIPTOR_TYPE:
            return sizeof(USB_ENDPOINT_DESCRIPTOR);
        default:
            return 2;
    }
}

bool WellFormedAt(const uint8_t* p, const uint8_t* end) {
    if (end - p < 2) return false;
    uint8_t length = p[0];
    return length >= MinimumLength(p[1]) && length <= end - p;
}

}  // namespace

const uint8_t* NextDescriptor(const USB_CONFIGURATION_DESCRIPTOR* config, const uint8_t* current) {
    const auto* begin = reinterpret_cast<const uint8_t*>(config);
    const uint8_t* end = ConfigurationEnd(config);
    const uint8_t* next = current ? current + current[0] : begin;
    if (next < begin || next >= end || !WellFormedAt(next, end)) return nullptr;
    return next;
}

int InterfaceEndpoints(const USB_CONFIGURATION_DESCRIPTOR* config,
                       const USB_INTERFACE_DESCRIPTOR* interfaceDescriptor,
                       const USB_ENDPOINT_DESCRIPTOR** endpoints, int capacity) {
    int found = 0;
    const auto* p = reinterpret_cast<const uint8_t*>(interfaceDescriptor);
    while (found < capacity && (p = NextDescriptor(config, p)) != nullptr) {
        if (p[1] == USB_INTERFACE_DESCRIPTOR_TYPE) break;
        if (p[1] == USB_ENDPOINT_DESCRIPTOR_TYPE) {
            endpoints[found++] = reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(p);
        }
    }
    return found;
}

USB_INTERFACE_DESCRIPTOR* USBD_ParseConfigurationDescriptorEx(USB_CONFIGURATION_DESCRIPTOR* config,
                                                              void* start, int32_t interfaceNumber,
                                                              int32_t alternateSetting,
                                                              int32_t interfaceClass,
                                                              int32_t interfaceSubClass,
                                                              int32_t interfaceProtocol) {
    if (!config) return nullptr;
    const auto* begin = reinterpret_cast<const uint8_t*>(config);
    const uint8_t* end = ConfigurationEnd(config);
    auto* from = static_cast<const uint8_t*>(start ? start : config);
    if (from < begin || from >= end || !WellFormedAt(from, end)) return nullptr;
    auto matches = [](int32_t wanted, uint8_t value) { return wanted == -1 || wanted == value; };
    for (const uint8_t* p = from; p; p = NextDescriptor(config, p)) {
        if (p[1] != USB_INTERFACE_DESCRIPTOR_TYPE) continue;
        auto* candidate = reinterpret_cast<USB_INTERFACE_DESCRIPTOR*>(const_cast<uint8_t*>(p));
        if (matches(interfaceNumber, candidate->bInterfaceNumber) &&
            matches(alternateSetting, candidate->bAlternateSetting) &&
            matches(interfaceClass, candidate->bInterfaceClass) &&
            matches(interfaceSubClass, candidate->bInterfaceSubClass) &&
            matches(interfaceProtocol, candidate->bInterfaceProtocol)) {
            return candidate;
        }
    }
    return nullptr;
}

URB* USBD_CreateConfigurationRequestEx(USB_CONFIGURATION_DESCRIPTOR* config,
                                       USBD_INTERFACE_LIST_ENTRY* interfaceList) {
    if (!config || !interfaceList) return nullptr;
    size_t size = offsetof(_URB_SELECT_CONFIGURATION, Interface);
    for (auto* entry = interfaceList; entry->InterfaceDescriptor; ++entry) {
        uint8_t endpoints = entry->InterfaceDescriptor->bNumEndpoints;
        if (endpoints > kMaxInterfaceEndpoints) return nullptr;
        size += InterfaceInformationSize(endpoints);
    }
    // The header's length field is 16 bits wide.
    if (size > UINT16_MAX) return nullptr;
    auto* urb = static_cast<URB*>(ExAllocatePoolZero(size < sizeof(URB) ? sizeof(URB) : size));
    if (!urb) return nullptr;
    urb->UrbHeader.Length = static_cast<uint16_t>(size);
    urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    urb->UrbSelectConfiguration.ConfigurationDescriptor = config;
    auto* info = &urb->UrbSelectConfiguration.Interface;
    for (auto* entry = interfaceList; entry->InterfaceDescriptor; ++entry) {
        const USB_INTERFACE_DESCRIPTOR* descriptor = entry->InterfaceDescriptor;
        info->Length = static_cast<uint16_t>(InterfaceInformationSize(descriptor->bNumEndpoints));
        info->InterfaceNumber = descriptor->bInterfaceNumber;
        info->AlternateSetting = descriptor->bAlternateSetting;
        info->NumberOfPipes = descriptor->bNumEndpoints;
        for (uint32_t i = 0; i < info->NumberOfPipes; ++i) {
            info->Pipes[i].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
        }
        entry->Interface = info;
        info = reinterpret_cast<USBD_INTERFACE_INFORMATION*>(reinterpret_cast<uint8_t*>(info) +
                                                             info->Length);
    }
    return urb;
}

}  // namespace bayercam
