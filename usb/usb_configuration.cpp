#include "usb/usb_configuration.h"

#include <cstring>

#include "platform/kernel/pool.h"
#include "usb/internal_request.h"

namespace bayercam {
namespace {

constexpr uint32_t kDeviceDescriptorBytes = sizeof(USB_DEVICE_DESCRIPTOR);
constexpr uint32_t kConfigHeaderBytes = sizeof(USB_CONFIGURATION_DESCRIPTOR);
// Interface numbers are 8-bit: no number above this can match.
constexpr int kLastInterfaceNumber = 255;

// A standard GET_DESCRIPTOR (index 0, language 0) into `buffer`.
NTSTATUS GetDescriptor(UsbTarget* usb, uint8_t type, void* buffer, uint32_t length,
                       uint32_t* transferred) {
    *transferred = 0;
    auto* urb = static_cast<URB*>(ExAllocatePoolZero(sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST)));
    if (!urb) return STATUS_INSUFFICIENT_RESOURCES;
    auto& request = urb->UrbControlDescriptorRequest;
    request.Hdr.Length = sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST);
    request.Hdr.Function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;
    request.TransferBufferLength = length;
    request.TransferBuffer = buffer;
    request.DescriptorType = type;
    NTSTATUS status = SubmitUrbSync(usb, urb);
    if (NT_SUCCESS(status)) *transferred = request.TransferBufferLength;
    ExFreePool(urb);
    return status;
}

}  // namespace

NTSTATUS SubmitUrbSync(UsbTarget* usb, URB* urb) {
    return SendInternalRequest(usb->lowerDevice, IOCTL_INTERNAL_USB_SUBMIT_URB, urb);
}

NTSTATUS ReadDeviceDescriptor(UsbTarget* usb) {
    void* descriptor = ExAllocatePoolZero(kDeviceDescriptorBytes);
    if (!descriptor) return STATUS_INSUFFICIENT_RESOURCES;
    uint32_t transferred;
    NTSTATUS status = GetDescriptor(usb, USB_DEVICE_DESCRIPTOR_TYPE, descriptor,
                                    kDeviceDescriptorBytes, &transferred);
    ExFreePool(descriptor);
    return status;
}

NTSTATUS FetchConfigDescriptor(UsbTarget* usb) {
    auto* header =
        static_cast<USB_CONFIGURATION_DESCRIPTOR*>(ExAllocatePoolZero(kConfigHeaderBytes));
    if (!header) return STATUS_INSUFFICIENT_RESOURCES;
    uint32_t transferred;
    NTSTATUS status = GetDescriptor(usb, USB_CONFIGURATION_DESCRIPTOR_TYPE, header,
                                    kConfigHeaderBytes, &transferred);
    uint16_t totalLength = header->wTotalLength;
    ExFreePool(header);
    if (!NT_SUCCESS(status)) return status;
    // The device's lengths decide how far the descriptor is walked: one that does not cover its
    // own header, or that changes between the two reads, cannot be trusted.
    if (transferred < kConfigHeaderBytes || totalLength < kConfigHeaderBytes) {
        return STATUS_INVALID_PARAMETER;
    }

    auto* config = static_cast<USB_CONFIGURATION_DESCRIPTOR*>(ExAllocatePoolZero(totalLength));
    if (!config) return STATUS_INSUFFICIENT_RESOURCES;
    status =
        GetDescriptor(usb, USB_CONFIGURATION_DESCRIPTOR_TYPE, config, totalLength, &transferred);
    if (NT_SUCCESS(status) &&
        (transferred < kConfigHeaderBytes || config->wTotalLength != totalLength)) {
        status = STATUS_INVALID_PARAMETER;
    }
    if (!NT_SUCCESS(status)) {
        ExFreePool(config);
        return status;
    }
    usb->configDescriptor = config;
    return SelectConfiguration(usb, config);
}

NTSTATUS SelectConfiguration(UsbTarget* usb, USB_CONFIGURATION_DESCRIPTOR* config) {
    uint8_t declared = config->bNumInterfaces;
    auto* list = static_cast<USBD_INTERFACE_LIST_ENTRY*>(
        ExAllocatePoolZero((declared + 1u) * sizeof(USBD_INTERFACE_LIST_ENTRY)));
    if (!list) return STATUS_INSUFFICIENT_RESOURCES;
    int found = 0;
    for (int number = 0; found < declared && number <= kLastInterfaceNumber; ++number) {
        USB_INTERFACE_DESCRIPTOR* descriptor =
            USBD_ParseConfigurationDescriptorEx(config, config, number, 0, -1, -1, -1);
        if (descriptor) list[found++].InterfaceDescriptor = descriptor;
    }
    // Without an interface there is nothing to select and no pipe the camera could use.
    if (found == 0) {
        ExFreePool(list);
        return STATUS_INVALID_PARAMETER;
    }

    URB* urb = USBD_CreateConfigurationRequestEx(config, list);
    if (!urb) {
        ExFreePool(list);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    USBD_INTERFACE_INFORMATION& first = urb->UrbSelectConfiguration.Interface;
    for (uint32_t i = 0; i < first.NumberOfPipes; ++i) {
        first.Pipes[i].MaximumTransferSize = 0xFFFFFFFF;
    }
    NTSTATUS status = SubmitUrbSync(usb, urb);
    if (!NT_SUCCESS(status)) {
        ExFreePool(list);
        ExFreePool(urb);
        return status;
    }

    status = STATUS_SUCCESS;
    auto* info = static_cast<USBD_INTERFACE_INFORMATION*>(ExAllocatePoolZero(first.Length));
    if (info) {
        std::memcpy(info, &first, first.Length);
        usb->interfaceInfo = info;
        if (info->NumberOfPipes > 0) {
            usb->pipeAbortMarks = static_cast<uint8_t*>(ExAllocatePoolZero(info->NumberOfPipes));
            if (!usb->pipeAbortMarks) status = STATUS_INSUFFICIENT_RESOURCES;
        }
    } else {
        status = STATUS_INSUFFICIENT_RESOURCES;
    }
    ExFreePool(list);
    ExFreePool(urb);
    return status;
}

void Deconfigure(UsbTarget* usb) {
    auto* urb = static_cast<URB*>(ExAllocatePoolZero(sizeof(_URB_SELECT_CONFIGURATION)));
    if (!urb) return;
    urb->UrbHeader.Length = sizeof(_URB_SELECT_CONFIGURATION);
    urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    urb->UrbSelectConfiguration.ConfigurationDescriptor = nullptr;
    SubmitUrbSync(usb, urb);
    ExFreePool(urb);
}

void FreeConfiguration(UsbTarget* usb) {
    ExFreePool(usb->configDescriptor);
    usb->configDescriptor = nullptr;
    ExFreePool(usb->interfaceInfo);
    usb->interfaceInfo = nullptr;
    ExFreePool(usb->pipeAbortMarks);
    usb->pipeAbortMarks = nullptr;
}

}  // namespace bayercam
