// A small device model for the usbfs emulation tests, shaped like the camera: command OUT 0x01
// (bulk), response IN 0x82 (interrupt), image IN 0x83 (bulk). Commands are 64-byte packets:
//   kEcho   [0x10, tag]         -> one 64-byte packet [0x10, tag, 0...] on 0x82
//   kStream [0x20, le32 count]  -> count bytes of Pattern(0), Pattern(1)... on 0x83
//   kStall  [0x30]              -> 0x83 halts until its halt is cleared
// IN transfers wait for data; completions run on the model's own thread, in order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/usb_stack/usb_backend.h"

namespace bayercam::test {

class LoopbackDevice final : public UsbBackend {
  public:
    static constexpr uint16_t kVendorId = 0x1209;
    static constexpr uint16_t kProductId = 0xbc01;
    static constexpr uint8_t kCommand = 0x01;
    static constexpr uint8_t kResponse = 0x82;
    static constexpr uint8_t kImage = 0x83;
    static constexpr uint8_t kEcho = 0x10;
    static constexpr uint8_t kStream = 0x20;
    static constexpr uint8_t kStall = 0x30;

    static uint8_t Pattern(size_t i) { return static_cast<uint8_t>(i * 7 + (i >> 8)); }

    // `serial` empty: the device has no serial number. `endpoints`: (address, attributes) of
    // interface 0, the camera's shape by default.
    explicit LoopbackDevice(std::string serial = "LOOP1",
                            std::vector<std::pair<uint8_t, uint8_t>> endpoints = {
                                {kCommand, 2}, {kResponse, 3}, {kImage, 2}});
    ~LoopbackDevice() override;

    USBD_STATUS ControlTransfer(const USB_SETUP_PACKET& setup, uint8_t* data,
                                uint32_t* transferred) override;
    USBD_STATUS SetConfiguration(uint8_t value) override;
    USBD_STATUS Submit(UsbTransfer* transfer) override;
    void Cancel(UsbTransfer* transfer) override;
    void AbortEndpoint(uint8_t endpoint) override;
    USBD_STATUS ClearHalt(uint8_t endpoint) override;
    uint32_t PortStatus() override;
    NTSTATUS ResetPort() override;

    uint8_t configuration();
    int resets();
    size_t pendingTransfers();

  private:
    std::vector<uint8_t> ConfigurationDescriptor() const;
    void HandleCommand(const uint8_t* packet, uint32_t length);
    // Completes what the data and halts now allow; lock held.
    void Serve();
    void Finish(UsbTransfer* transfer, USBD_STATUS status, uint32_t length);
    void CompleteLoop();

    const std::string serial_;
    const std::vector<std::pair<uint8_t, uint8_t>> endpoints_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::map<uint8_t, std::deque<UsbTransfer*>> pending_;  // IN transfers by endpoint
    std::deque<std::vector<uint8_t>> responses_;
    std::deque<uint8_t> image_;
    size_t imagePosition_ = 0;
    std::set<uint8_t> halted_;
    uint8_t configuration_ = 0;
    int resets_ = 0;
    std::deque<UsbTransfer*> completions_;
    bool stopping_ = false;
    std::thread completer_;
};

}  // namespace bayercam::test
