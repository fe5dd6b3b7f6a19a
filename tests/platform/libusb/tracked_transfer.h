// A transfer with its own buffer that counts its completions, for driving a UsbBackend by hand.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/usb_stack/usb_backend.h"

namespace bayercam::test {

class TrackedTransfer {
  public:
    TrackedTransfer(uint8_t endpoint, uint32_t length, std::vector<uint8_t> bytes = {})
        : data_(std::move(bytes)) {
        data_.resize(length);
        transfer_ = {endpoint, data_.data(), length, 0, 0, &TrackedTransfer::Complete,
                     this,     nullptr};
    }
    TrackedTransfer(const TrackedTransfer&) = delete;
    TrackedTransfer& operator=(const TrackedTransfer&) = delete;

    UsbTransfer* get() { return &transfer_; }
    const std::vector<uint8_t>& data() const { return data_; }

    // Waits for the first completion. The bound only keeps a broken backend from hanging the
    // run; it is no statement about speed.
    bool Wait() {
        std::unique_lock<std::mutex> guard(lock_);
        return done_.wait_for(guard, std::chrono::seconds(30), [this] { return count_ > 0; });
    }
    int completions() {
        std::lock_guard<std::mutex> guard(lock_);
        return count_;
    }
    std::thread::id completionThread() {
        std::lock_guard<std::mutex> guard(lock_);
        return thread_;
    }
    // Position of the first completion among all tracked transfers, from 1.
    int order() {
        std::lock_guard<std::mutex> guard(lock_);
        return order_;
    }
    USBD_STATUS status() const { return transfer_.status; }
    uint32_t actualLength() const { return transfer_.actualLength; }

  private:
    static void Complete(UsbTransfer* transfer) {
        static std::atomic<int> sequence{0};
        auto* self = static_cast<TrackedTransfer*>(transfer->context);
        std::lock_guard<std::mutex> guard(self->lock_);
        if (self->count_++ == 0) {
            self->thread_ = std::this_thread::get_id();
            self->order_ = ++sequence;
        }
        // Under the lock: the waiter may destroy this object as soon as it sees the count.
        self->done_.notify_all();
    }

    std::vector<uint8_t> data_;
    UsbTransfer transfer_;
    std::mutex lock_;
    std::condition_variable done_;
    int count_ = 0;
    int order_ = 0;
    std::thread::id thread_;
};

}  // namespace bayercam::test
