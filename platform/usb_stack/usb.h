// USB descriptors, USBD structures and URBs, laid out as the USB stack defines them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/kernel/ntstatus.h"

namespace bayercam {

struct MDL;
struct DEVICE_OBJECT;

// ---- Descriptors as they travel on the bus (packed, little-endian). ----
#pragma pack(push, 1)
struct USB_DEVICE_DESCRIPTOR {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t bcdUSB;
    uint8_t bDeviceClass;
    uint8_t bDeviceSubClass;
    uint8_t bDeviceProtocol;
    uint8_t bMaxPacketSize0;
    uint16_t idVendor;
    uint16_t idProduct;
    uint16_t bcdDevice;
    uint8_t iManufacturer;
    uint8_t iProduct;
    uint8_t iSerialNumber;
    uint8_t bNumConfigurations;
};
struct USB_CONFIGURATION_DESCRIPTOR {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t wTotalLength;
    uint8_t bNumInterfaces;
    uint8_t bConfigurationValue;
    uint8_t iConfiguration;
    uint8_t bmAttributes;
    uint8_t MaxPower;
};
struct USB_INTERFACE_DESCRIPTOR {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bInterfaceNumber;
    uint8_t bAlternateSetting;
    uint8_t bNumEndpoints;
    uint8_t bInterfaceClass;
    uint8_t bInterfaceSubClass;
    uint8_t bInterfaceProtocol;
    uint8_t iInterface;
};
struct USB_ENDPOINT_DESCRIPTOR {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bEndpointAddress;
    uint8_t bmAttributes;
    uint16_t wMaxPacketSize;
    uint8_t bInterval;
};
// The 8-byte setup packet of a control transfer.
struct USB_SETUP_PACKET {
    uint8_t bmRequestType;
    uint8_t bRequest;
    uint16_t wValue;
    uint16_t wIndex;
    uint16_t wLength;
};
#pragma pack(pop)
static_assert(sizeof(USB_DEVICE_DESCRIPTOR) == 18);
static_assert(sizeof(USB_CONFIGURATION_DESCRIPTOR) == 9);
static_assert(offsetof(USB_CONFIGURATION_DESCRIPTOR, wTotalLength) == 2);
static_assert(offsetof(USB_CONFIGURATION_DESCRIPTOR, bNumInterfaces) == 4);
static_assert(sizeof(USB_INTERFACE_DESCRIPTOR) == 9);
static_assert(sizeof(USB_ENDPOINT_DESCRIPTOR) == 7);
static_assert(offsetof(USB_ENDPOINT_DESCRIPTOR, wMaxPacketSize) == 4);
static_assert(sizeof(USB_SETUP_PACKET) == 8);

constexpr uint8_t USB_DEVICE_DESCRIPTOR_TYPE = 1;
constexpr uint8_t USB_CONFIGURATION_DESCRIPTOR_TYPE = 2;
constexpr uint8_t USB_INTERFACE_DESCRIPTOR_TYPE = 4;
constexpr uint8_t USB_ENDPOINT_DESCRIPTOR_TYPE = 5;
constexpr uint8_t USB_REQUEST_GET_DESCRIPTOR = 0x06;
constexpr uint8_t USB_REQUEST_SET_CONFIGURATION = 0x09;
constexpr uint8_t USB_REQUEST_CLEAR_FEATURE = 0x01;
constexpr uint16_t USB_FEATURE_ENDPOINT_STALL = 0;

// ---- USBD structures (native layout, as the USB stack hands them to the driver). ----
using USBD_STATUS = int32_t;  // negative = error
constexpr USBD_STATUS USBD_STATUS_SUCCESS = 0;
constexpr USBD_STATUS USBD_STATUS_STALL_PID = static_cast<USBD_STATUS>(0xC0000004);
constexpr USBD_STATUS USBD_STATUS_DEV_NOT_RESPONDING = static_cast<USBD_STATUS>(0xC0000005);
constexpr USBD_STATUS USBD_STATUS_CANCELED = static_cast<USBD_STATUS>(0xC0010000);
constexpr USBD_STATUS USBD_STATUS_DEVICE_GONE = static_cast<USBD_STATUS>(0xC0007000);
constexpr USBD_STATUS USBD_STATUS_ERROR_BUSY = static_cast<USBD_STATUS>(0xC0007001);
constexpr USBD_STATUS USBD_STATUS_INVALID_PARAMETER = static_cast<USBD_STATUS>(0x80000300);
constexpr USBD_STATUS USBD_STATUS_INVALID_PIPE_HANDLE = static_cast<USBD_STATUS>(0x80000600);
constexpr USBD_STATUS USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR =
    static_cast<USBD_STATUS>(0x80000400);
constexpr USBD_STATUS USBD_STATUS_REQUEST_FAILED = static_cast<USBD_STATUS>(0x80000500);
constexpr USBD_STATUS USBD_STATUS_BABBLE_DETECTED = static_cast<USBD_STATUS>(0xC0000012);
constexpr bool USBD_SUCCESS(USBD_STATUS status) {
    return status >= 0;
}

using USBD_PIPE_HANDLE = void*;
using USBD_CONFIGURATION_HANDLE = void*;
using USBD_INTERFACE_HANDLE = void*;

enum USBD_PIPE_TYPE : int32_t {
    UsbdPipeTypeControl = 0,
    UsbdPipeTypeIsochronous = 1,
    UsbdPipeTypeBulk = 2,
    UsbdPipeTypeInterrupt = 3,
};

struct USBD_PIPE_INFORMATION {
    uint16_t MaximumPacketSize;
    uint8_t EndpointAddress;
    uint8_t Interval;
    USBD_PIPE_TYPE PipeType;
    USBD_PIPE_HANDLE PipeHandle;
    uint32_t MaximumTransferSize;
    uint32_t PipeFlags;
};
static_assert(sizeof(USBD_PIPE_INFORMATION) == 24);
static_assert(offsetof(USBD_PIPE_INFORMATION, PipeHandle) == 8);

struct USBD_INTERFACE_INFORMATION {
    uint16_t Length;  // of this structure including every entry of Pipes
    uint8_t InterfaceNumber;
    uint8_t AlternateSetting;
    uint8_t Class;
    uint8_t SubClass;
    uint8_t Protocol;
    uint8_t Reserved;
    USBD_INTERFACE_HANDLE InterfaceHandle;
    uint32_t NumberOfPipes;
    USBD_PIPE_INFORMATION Pipes[1];
};
static_assert(offsetof(USBD_INTERFACE_INFORMATION, Pipes) == 24);
static_assert(sizeof(USBD_INTERFACE_INFORMATION) == 48);

// Size of an interface information block with `pipes` pipe entries (at least one entry's room).
constexpr size_t InterfaceInformationSize(uint32_t pipes) {
    return offsetof(USBD_INTERFACE_INFORMATION, Pipes) +
           (pipes == 0 ? 1 : pipes) * sizeof(USBD_PIPE_INFORMATION);
}

struct USBD_INTERFACE_LIST_ENTRY {
    USB_INTERFACE_DESCRIPTOR* InterfaceDescriptor;
    USBD_INTERFACE_INFORMATION* Interface;
};

// ---- URBs ----
constexpr uint16_t URB_FUNCTION_SELECT_CONFIGURATION = 0x0000;
constexpr uint16_t URB_FUNCTION_ABORT_PIPE = 0x0002;
constexpr uint16_t URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER = 0x0009;
constexpr uint16_t URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE = 0x000B;
constexpr uint16_t URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL = 0x001E;

constexpr uint32_t USBD_TRANSFER_DIRECTION_IN = 1;
constexpr uint32_t USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE = 4096;
constexpr uint32_t USBD_SHORT_TRANSFER_OK = 2;

struct _URB_HEADER {
    uint16_t Length;
    uint16_t Function;
    USBD_STATUS Status;
    void* UsbdDeviceHandle;
    uint32_t UsbdFlags;
};

union URB;

struct _URB_SELECT_CONFIGURATION {
    _URB_HEADER Hdr;
    USB_CONFIGURATION_DESCRIPTOR* ConfigurationDescriptor;  // null: unconfigure
    USBD_CONFIGURATION_HANDLE ConfigurationHandle;
    USBD_INTERFACE_INFORMATION Interface;  // the first of the selected interfaces; more follow
};

struct _URB_PIPE_REQUEST {
    _URB_HEADER Hdr;
    USBD_PIPE_HANDLE PipeHandle;
    uint32_t Reserved;
};

struct _URB_BULK_OR_INTERRUPT_TRANSFER {
    _URB_HEADER Hdr;
    USBD_PIPE_HANDLE PipeHandle;
    uint32_t TransferFlags;
    uint32_t TransferBufferLength;  // in: requested; out: bytes moved
    void* TransferBuffer;
    MDL* TransferBufferMDL;
    URB* UrbLink;
};

struct _URB_CONTROL_DESCRIPTOR_REQUEST {
    _URB_HEADER Hdr;
    void* Reserved;
    uint32_t Reserved0;
    uint32_t TransferBufferLength;
    void* TransferBuffer;
    MDL* TransferBufferMDL;
    URB* UrbLink;
    uint16_t Reserved1;
    uint8_t Index;
    uint8_t DescriptorType;
    uint16_t LanguageId;
    uint16_t Reserved2;
};

union URB {
    _URB_HEADER UrbHeader;
    _URB_SELECT_CONFIGURATION UrbSelectConfiguration;
    _URB_PIPE_REQUEST UrbPipeRequest;
    _URB_BULK_OR_INTERRUPT_TRANSFER UrbBulkOrInterruptTransfer;
    _URB_CONTROL_DESCRIPTOR_REQUEST UrbControlDescriptorRequest;
};

// ---- Internal device-control codes of the USB stack. ----
constexpr uint32_t IOCTL_INTERNAL_USB_SUBMIT_URB = 0x220003;
constexpr uint32_t IOCTL_INTERNAL_USB_RESET_PORT = 0x220007;
constexpr uint32_t IOCTL_INTERNAL_USB_GET_PORT_STATUS = 0x220013;
constexpr uint32_t USBD_PORT_ENABLED = 0x1;
constexpr uint32_t USBD_PORT_CONNECTED = 0x2;

// ---- USBD helpers. ----

// Finds the interface descriptor with the given number and alternate setting (and class,
// subclass, protocol unless -1) at or after `start`, within the wTotalLength bytes of `config`.
// Never reads past wTotalLength; a malformed descriptor ends the walk.
USB_INTERFACE_DESCRIPTOR* USBD_ParseConfigurationDescriptorEx(USB_CONFIGURATION_DESCRIPTOR* config,
                                                              void* start, int32_t interfaceNumber,
                                                              int32_t alternateSetting,
                                                              int32_t interfaceClass,
                                                              int32_t interfaceSubClass,
                                                              int32_t interfaceProtocol);

// Builds a select-configuration URB (pool memory, free with ExFreePool) holding one interface
// information block per list entry, each sized for that interface's endpoints; fills each
// entry's Interface pointer. Null when the allocation fails or the descriptor is malformed.
URB* USBD_CreateConfigurationRequestEx(USB_CONFIGURATION_DESCRIPTOR* config,
                                       USBD_INTERFACE_LIST_ENTRY* interfaceList);

}  // namespace bayercam
