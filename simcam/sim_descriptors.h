// The simulated camera's USB shape: its descriptors and the options that reshape them for tests.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/kernel/ntstatus.h"
#include "platform/usb_stack/usb.h"

namespace bayercam::sim {

// The camera's three endpoints on its first interface, in the order the protocol fixes.
constexpr uint8_t kCommandEndpoint = 0x01;   // bulk OUT
constexpr uint8_t kResponseEndpoint = 0x82;  // bulk IN
constexpr uint8_t kImageEndpoint = 0x83;     // bulk IN

constexpr uint8_t kBulk = 0x02;  // bmAttributes transfer types
constexpr uint8_t kInterrupt = 0x03;
constexpr uint8_t kIsochronous = 0x01;

struct SimEndpoint {
    uint8_t address;
    uint8_t attributes = kBulk;
    uint16_t maxPacketSize = 512;
    uint8_t interval = 0;
};

struct SimInterface {
    uint8_t number;
    std::vector<SimEndpoint> endpoints;
    uint8_t alternateSetting = 0;
    int declaredEndpoints = -1;  // bNumEndpoints when it should differ from the list
};

struct SimCameraOptions {
    uint16_t vendorId = 0x1209;  // the open test id range
    uint16_t productId = 0x0001;
    uint16_t bcdDevice = 0x0100;
    uint8_t configurationValue = 1;
    std::vector<SimInterface> interfaces = {
        {0, {{kCommandEndpoint}, {kResponseEndpoint}, {kImageEndpoint}}}};
    int declaredInterfaces = -1;  // bNumInterfaces when it should differ from the list
    // Served verbatim as the configuration descriptor when not empty (malformed-device tests).
    std::vector<uint8_t> rawConfigDescriptor;

    // Descriptor types (bit 1 << type) whose GET_DESCRIPTOR stalls.
    uint32_t failDescriptorTypes = 0;
    bool failSetConfiguration = false;

    // The clock selection the camera reports in its logic register 15 until a write changes it.
    uint8_t clockSelection = 0;

    uint32_t portStatus = USBD_PORT_ENABLED | USBD_PORT_CONNECTED;
    NTSTATUS resetPortStatus = STATUS_SUCCESS;

    // Serves a transfer inside Submit, on the submitter's thread, when nothing waits before it
    // on its endpoint, as a device that has its answer ready does; the camera's thread serves the
    // rest. Saves the two thread hand-offs of each transfer where the number of transfers counts
    // (fuzzing), at the price of completions that run before Submit returns.
    bool completeInSubmit = false;
};

std::vector<uint8_t> BuildDeviceDescriptor(const SimCameraOptions& options);
std::vector<uint8_t> BuildConfigDescriptor(const SimCameraOptions& options);

}  // namespace bayercam::sim
