#include "simcam/sim_descriptors.h"

namespace bayercam::sim {
namespace {

void PutWord(std::vector<uint8_t>& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

}  // namespace

std::vector<uint8_t> BuildDeviceDescriptor(const SimCameraOptions& options) {
    std::vector<uint8_t> bytes = {18, USB_DEVICE_DESCRIPTOR_TYPE};
    PutWord(bytes, 0x0200);                             // USB 2.0
    bytes.insert(bytes.end(), {0xFF, 0x00, 0x00, 64});  // vendor-specific class, EP0 packet
    PutWord(bytes, options.vendorId);
    PutWord(bytes, options.productId);
    PutWord(bytes, options.bcdDevice);
    bytes.insert(bytes.end(), {0, 0, 0, 1});  // no strings, one configuration
    return bytes;
}

std::vector<uint8_t> BuildConfigDescriptor(const SimCameraOptions& options) {
    if (!options.rawConfigDescriptor.empty()) return options.rawConfigDescriptor;
    int interfaces = options.declaredInterfaces >= 0 ? options.declaredInterfaces
                                                     : static_cast<int>(options.interfaces.size());
    std::vector<uint8_t> bytes = {
        9,    USB_CONFIGURATION_DESCRIPTOR_TYPE, 0,
        0,    static_cast<uint8_t>(interfaces),  options.configurationValue,
        0,     // no string
        0x80,  // bus powered
        250};  // 500 mA
    for (const SimInterface& interface : options.interfaces) {
        int endpoints = interface.declaredEndpoints >= 0
                            ? interface.declaredEndpoints
                            : static_cast<int>(interface.endpoints.size());
        bytes.insert(bytes.end(), {9, USB_INTERFACE_DESCRIPTOR_TYPE, interface.number,
                                   interface.alternateSetting, static_cast<uint8_t>(endpoints),
                                   0xFF, 0x00, 0x00, 0});
        for (const SimEndpoint& endpoint : interface.endpoints) {
            bytes.insert(bytes.end(),
                         {7, USB_ENDPOINT_DESCRIPTOR_TYPE, endpoint.address, endpoint.attributes});
            PutWord(bytes, endpoint.maxPacketSize);
            bytes.push_back(endpoint.interval);
        }
    }
    bytes[2] = static_cast<uint8_t>(bytes.size() & 0xFF);
    bytes[3] = static_cast<uint8_t>(bytes.size() >> 8);
    return bytes;
}

}  // namespace bayercam::sim
