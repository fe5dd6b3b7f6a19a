#include "platform/libusb/loopback_device.h"

#include <algorithm>
#include <cstring>

namespace bayercam::test {

LoopbackDevice::LoopbackDevice(std::string serial,
                               std::vector<std::pair<uint8_t, uint8_t>> endpoints)
    : serial_(std::move(serial)),
      endpoints_(std::move(endpoints)),
      completer_([this] { CompleteLoop(); }) {}

LoopbackDevice::~LoopbackDevice() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto& [endpoint, queue] : pending_)
            for (UsbTransfer* transfer : queue) Finish(transfer, USBD_STATUS_CANCELED, 0);
        pending_.clear();
        stopping_ = true;
        wake_.notify_all();
    }
    completer_.join();
}

std::vector<uint8_t> LoopbackDevice::ConfigurationDescriptor() const {
    const auto total = static_cast<uint16_t>(9 + 9 + 7 * endpoints_.size());
    std::vector<uint8_t> descriptor = {9,
                                       USB_CONFIGURATION_DESCRIPTOR_TYPE,
                                       static_cast<uint8_t>(total),
                                       static_cast<uint8_t>(total >> 8),
                                       1,
                                       1,
                                       0,
                                       0x80,
                                       250,
                                       9,
                                       USB_INTERFACE_DESCRIPTOR_TYPE,
                                       0,
                                       0,
                                       static_cast<uint8_t>(endpoints_.size()),
                                       0xff,
                                       0,
                                       0,
                                       0};
    for (auto [address, attributes] : endpoints_)
        descriptor.insert(descriptor.end(),
                          {7, USB_ENDPOINT_DESCRIPTOR_TYPE, address, attributes, 0x00, 0x02, 0});
    return descriptor;
}

USBD_STATUS LoopbackDevice::ControlTransfer(const USB_SETUP_PACKET& setup, uint8_t* data,
                                            uint32_t* transferred) {
    *transferred = 0;
    if (setup.bmRequestType != 0x80 || setup.bRequest != USB_REQUEST_GET_DESCRIPTOR)
        return USBD_STATUS_STALL_PID;
    std::vector<uint8_t> answer;
    const uint8_t index = setup.wValue & 0xFF;
    switch (setup.wValue >> 8) {
        case USB_DEVICE_DESCRIPTOR_TYPE:
            answer = {18,
                      USB_DEVICE_DESCRIPTOR_TYPE,
                      0x00,
                      0x02,
                      0,
                      0,
                      0,
                      64,
                      kVendorId & 0xFF,
                      kVendorId >> 8,
                      kProductId & 0xFF,
                      kProductId >> 8,
                      0x00,
                      0x01,
                      0,
                      0,
                      static_cast<uint8_t>(serial_.empty() ? 0 : 3),
                      1};
            break;
        case USB_CONFIGURATION_DESCRIPTOR_TYPE:
            if (index != 0) return USBD_STATUS_STALL_PID;
            answer = ConfigurationDescriptor();
            break;
        case 3:  // string
            if (index == 0) {
                answer = {4, 3, 0x09, 0x04};
            } else if (index == 3 && !serial_.empty()) {
                answer = {static_cast<uint8_t>(2 + 2 * serial_.size()), 3};
                for (char c : serial_) answer.insert(answer.end(), {static_cast<uint8_t>(c), 0});
            } else {
                return USBD_STATUS_STALL_PID;
            }
            break;
        default:
            return USBD_STATUS_STALL_PID;
    }
    *transferred = std::min<uint32_t>(answer.size(), setup.wLength);
    if (*transferred) std::memcpy(data, answer.data(), *transferred);
    return USBD_STATUS_SUCCESS;
}

USBD_STATUS LoopbackDevice::SetConfiguration(uint8_t value) {
    if (value > 1) return USBD_STATUS_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(lock_);
    configuration_ = value;
    return USBD_STATUS_SUCCESS;
}

USBD_STATUS LoopbackDevice::Submit(UsbTransfer* transfer) {
    std::lock_guard<std::mutex> guard(lock_);
    bool known = std::any_of(endpoints_.begin(), endpoints_.end(),
                             [&](auto endpoint) { return endpoint.first == transfer->endpoint; });
    if (!known || configuration_ == 0) return USBD_STATUS_INVALID_PARAMETER;
    if (halted_.count(transfer->endpoint)) {
        Finish(transfer, USBD_STATUS_STALL_PID, 0);
    } else if (transfer->endpoint & 0x80) {
        pending_[transfer->endpoint].push_back(transfer);
    } else {
        if (transfer->endpoint == kCommand) HandleCommand(transfer->buffer, transfer->length);
        Finish(transfer, USBD_STATUS_SUCCESS, transfer->length);
    }
    Serve();
    return USBD_STATUS_SUCCESS;
}

void LoopbackDevice::HandleCommand(const uint8_t* packet, uint32_t length) {
    if (length < 64) return;
    if (packet[0] == kEcho) {
        std::vector<uint8_t> response(64, 0);
        response[0] = kEcho;
        response[1] = packet[1];
        responses_.push_back(response);
    } else if (packet[0] == kStream) {
        uint32_t count;
        std::memcpy(&count, packet + 1, sizeof count);
        for (uint32_t i = 0; i < count; ++i) image_.push_back(Pattern(imagePosition_++));
    } else if (packet[0] == kStall) {
        halted_.insert(kImage);
    }
}

void LoopbackDevice::Serve() {
    for (auto& [endpoint, queue] : pending_) {
        while (!queue.empty()) {
            UsbTransfer* transfer = queue.front();
            if (halted_.count(endpoint)) {
                Finish(transfer, USBD_STATUS_STALL_PID, 0);
            } else if (endpoint == kResponse && !responses_.empty()) {
                const std::vector<uint8_t>& packet = responses_.front();
                uint32_t length = std::min<uint32_t>(packet.size(), transfer->length);
                std::memcpy(transfer->buffer, packet.data(), length);
                Finish(transfer,
                       length < packet.size() ? USBD_STATUS_BABBLE_DETECTED : USBD_STATUS_SUCCESS,
                       length);
                responses_.pop_front();
            } else if (endpoint == kImage && !image_.empty()) {
                uint32_t length = std::min<uint32_t>(image_.size(), transfer->length);
                std::copy_n(image_.begin(), length, transfer->buffer);
                image_.erase(image_.begin(), image_.begin() + length);
                Finish(transfer, USBD_STATUS_SUCCESS, length);
            } else {
                break;
            }
            queue.pop_front();
        }
    }
}

void LoopbackDevice::Finish(UsbTransfer* transfer, USBD_STATUS status, uint32_t length) {
    transfer->status = status;
    transfer->actualLength = length;
    completions_.push_back(transfer);
    wake_.notify_all();
}

void LoopbackDevice::Cancel(UsbTransfer* transfer) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& [endpoint, queue] : pending_) {
        auto found = std::find(queue.begin(), queue.end(), transfer);
        if (found == queue.end()) continue;
        queue.erase(found);
        Finish(transfer, USBD_STATUS_CANCELED, 0);
        return;
    }
}

void LoopbackDevice::AbortEndpoint(uint8_t endpoint) {
    std::lock_guard<std::mutex> guard(lock_);
    for (UsbTransfer* transfer : pending_[endpoint]) Finish(transfer, USBD_STATUS_CANCELED, 0);
    pending_[endpoint].clear();
}

USBD_STATUS LoopbackDevice::ClearHalt(uint8_t endpoint) {
    std::lock_guard<std::mutex> guard(lock_);
    halted_.erase(endpoint);
    Serve();
    return USBD_STATUS_SUCCESS;
}

uint32_t LoopbackDevice::PortStatus() {
    return USBD_PORT_CONNECTED | USBD_PORT_ENABLED;
}

NTSTATUS LoopbackDevice::ResetPort() {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& [endpoint, queue] : pending_)
        for (UsbTransfer* transfer : queue) Finish(transfer, USBD_STATUS_CANCELED, 0);
    pending_.clear();
    responses_.clear();
    image_.clear();
    halted_.clear();
    resets_++;
    return STATUS_SUCCESS;
}

uint8_t LoopbackDevice::configuration() {
    std::lock_guard<std::mutex> guard(lock_);
    return configuration_;
}

int LoopbackDevice::resets() {
    std::lock_guard<std::mutex> guard(lock_);
    return resets_;
}

size_t LoopbackDevice::pendingTransfers() {
    std::lock_guard<std::mutex> guard(lock_);
    size_t count = 0;
    for (auto& [endpoint, queue] : pending_) count += queue.size();
    return count;
}

void LoopbackDevice::CompleteLoop() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return stopping_ || !completions_.empty(); });
        if (completions_.empty()) return;
        UsbTransfer* transfer = completions_.front();
        completions_.pop_front();
        guard.unlock();
        transfer->complete(transfer);
        guard.lock();
    }
}

}  // namespace bayercam::test
