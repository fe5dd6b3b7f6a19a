#include "platform/libusb/usb_device_list.h"

#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "platform/libusb/libusb_backend.h"
#include "platform/libusb/libusb_context.h"
#include "platform/libusb/libusb_control_transfer.h"

namespace bayercam {
namespace {

constexpr int kMaxPorts = 7;

struct Candidate {
    libusb_device* device;
    UsbDeviceInfo info;
    std::vector<uint8_t> position;  // bus, then ports: sorts "1-3.1" before "1-10"
    bool cameraShape;
};

class DeviceList {
  public:
    explicit DeviceList(libusb_context* context) {
        count_ = libusb_get_device_list(context, &devices_);
    }
    ~DeviceList() {
        if (count_ >= 0) libusb_free_device_list(devices_, 1);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    ssize_t count() const { return count_; }
    libusb_device* operator[](ssize_t i) const { return devices_[i]; }

  private:
    libusb_device** devices_ = nullptr;
    ssize_t count_;
};

bool IsCameraShaped(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    // An unconfigured device has no active configuration; the driver would select the first.
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS &&
        libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS)
        return false;
    bool shaped = false;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        if (interface.num_altsetting == 0 || interface.altsetting[0].bInterfaceNumber != 0)
            continue;
        const libusb_interface_descriptor& setting = interface.altsetting[0];
        std::vector<USB_ENDPOINT_DESCRIPTOR> endpoints;
        for (int e = 0; e < setting.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
            endpoints.push_back({endpoint.bLength, endpoint.bDescriptorType,
                                 endpoint.bEndpointAddress, endpoint.bmAttributes,
                                 endpoint.wMaxPacketSize, endpoint.bInterval});
        }
        shaped = HasCameraShape(endpoints);
        break;
    }
    libusb_free_config_descriptor(config);
    return shaped;
}

std::vector<Candidate> Enumerate(const DeviceList& list) {
    std::vector<Candidate> candidates;
    for (ssize_t i = 0; i < list.count(); ++i) {
        libusb_device* device = list[i];
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) continue;
        uint8_t ports[kMaxPorts];
        int depth = libusb_get_port_numbers(device, ports, kMaxPorts);
        if (depth < 0) depth = 0;
        uint8_t bus = libusb_get_bus_number(device);
        Candidate candidate{device, {}, {bus}, IsCameraShaped(device)};
        candidate.position.insert(candidate.position.end(), ports, ports + depth);
        candidate.info.busPath = FormatBusPath(bus, std::span<const uint8_t>(ports, depth));
        candidate.info.vendorId = descriptor.idVendor;
        candidate.info.productId = descriptor.idProduct;
        char node[32];
        std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", bus,
                      libusb_get_device_address(device));
        candidate.info.node = node;
        candidates.push_back(std::move(candidate));
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.position < b.position; });
    return candidates;
}

// The kernel publishes the serial number to everyone, so it is known even for a device this user
// may not open.
std::string SysfsSerial(const std::string& busPath) {
    std::ifstream file("/sys/bus/usb/devices/" + busPath + "/serial");
    std::string serial;
    std::getline(file, serial);
    return serial;
}

std::string DeviceSerial(libusb_device_handle* handle, libusb_device* device,
                         const std::string& busPath) {
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
        descriptor.iSerialNumber == 0)
        return "";
    std::string serial = LibusbStringDescriptor(handle, descriptor.iSerialNumber);
    return serial.empty() ? SysfsSerial(busPath) : serial;
}

// Opens the device and fills in its serial number and access. Returns the open handle when the
// device is openable and `keepOpen` is set; closes it otherwise.
libusb_device_handle* Probe(libusb_device* device, UsbDeviceInfo* info, bool keepOpen) {
    libusb_device_handle* handle = nullptr;
    int result = libusb_open(device, &handle);
    if (result != LIBUSB_SUCCESS) {
        info->access = result == LIBUSB_ERROR_ACCESS ? UsbDeviceAccess::PermissionDenied
                                                     : UsbDeviceAccess::Unavailable;
        info->problem = libusb_strerror(result);
        info->serial = SysfsSerial(info->busPath);
        return nullptr;
    }
    info->serial = DeviceSerial(handle, device, info->busPath);
    result = libusb_claim_interface(handle, 0);
    if (result == LIBUSB_SUCCESS) libusb_release_interface(handle, 0);
    if (result == LIBUSB_ERROR_BUSY) {
        info->access = UsbDeviceAccess::Busy;
    } else if (result != LIBUSB_SUCCESS && result != LIBUSB_ERROR_NOT_FOUND) {
        // NOT_FOUND only says the device is not configured yet; the driver configures it.
        info->access = UsbDeviceAccess::Unavailable;
        info->problem = libusb_strerror(result);
    }
    if (info->access == UsbDeviceAccess::Openable && keepOpen) return handle;
    libusb_close(handle);
    return nullptr;
}

std::string Identify(const UsbDeviceInfo& device) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", device.vendorId, device.productId);
    return device.busPath + " (" + ids + ")";
}

NTSTATUS StatusForAccess(UsbDeviceAccess access) {
    switch (access) {
        case UsbDeviceAccess::Openable:
            return STATUS_SUCCESS;
        case UsbDeviceAccess::PermissionDenied:
            return STATUS_ACCESS_DENIED;
        case UsbDeviceAccess::Busy:
            return STATUS_DEVICE_BUSY;
        case UsbDeviceAccess::Unavailable:
            return STATUS_UNSUCCESSFUL;
    }
    return STATUS_UNSUCCESSFUL;
}

std::string DescribeSelector(const UsbDeviceSelector& selector) {
    std::string text;
    if (selector.byIds) {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", selector.vendorId, selector.productId);
        text = ids;
        if (!selector.serial.empty()) text += " with serial " + selector.serial;
    }
    if (!selector.busPath.empty()) text += (text.empty() ? "at " : " at ") + selector.busPath;
    return text;
}

}  // namespace

UsbCameraList ListUsbCameras() {
    UsbCameraList result;
    std::shared_ptr<LibusbContext> context = LibusbContext::Acquire(&result.error);
    if (!context) return result;
    DeviceList list(context->get());
    if (list.count() < 0) {
        result.error = std::string("cannot list USB devices: ") +
                       libusb_strerror(static_cast<int>(list.count()));
        return result;
    }
    for (Candidate& candidate : Enumerate(list)) {
        if (!candidate.cameraShape) continue;
        Probe(candidate.device, &candidate.info, false);
        result.devices.push_back(std::move(candidate.info));
    }
    return result;
}

UsbOpenResult OpenUsbCamera(const UsbDeviceSelector& selector) {
    UsbOpenResult result;
    std::string error;
    std::shared_ptr<LibusbContext> context = LibusbContext::Acquire(&error);
    if (!context) {
        result.status = STATUS_DEVICE_NOT_CONNECTED;
        result.error = error;
        return result;
    }
    DeviceList list(context->get());
    // Ids and path are known without opening a device; the serial number may need its answer.
    UsbDeviceSelector withoutSerial = selector;
    withoutSerial.serial.clear();
    const UsbDeviceInfo* misshapen = nullptr;
    std::vector<Candidate> candidates = Enumerate(list);
    for (Candidate& candidate : candidates) {
        if (!MatchesUsbDevice(withoutSerial, candidate.info)) continue;
        if (!candidate.cameraShape) {
            candidate.info.serial = SysfsSerial(candidate.info.busPath);
            if (!misshapen && MatchesUsbDevice(selector, candidate.info))
                misshapen = &candidate.info;
            continue;
        }
        libusb_device_handle* handle = Probe(candidate.device, &candidate.info, true);
        if (!MatchesUsbDevice(selector, candidate.info)) {
            if (handle) libusb_close(handle);
            continue;
        }
        result.device = candidate.info;
        result.status = StatusForAccess(candidate.info.access);
        if (!handle) {
            result.error = Identify(candidate.info) + ": " + UsbAccessAdvice(candidate.info);
            return result;
        }
        result.backend = std::make_unique<LibusbBackend>(context, handle);
        return result;
    }
    if (misshapen) {
        result.device = *misshapen;
        result.status = STATUS_NOT_SUPPORTED;
        result.error = Identify(*misshapen) +
                       " is not the camera: interface 0 does not begin with the command OUT, "
                       "response IN and image IN endpoints";
        return result;
    }
    result.status = STATUS_NOT_FOUND;
    result.error = "no USB device " + DescribeSelector(selector) +
                   " is attached (bayercam list shows the cameras attached)";
    return result;
}

}  // namespace bayercam
