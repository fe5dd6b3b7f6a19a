// Keeps every request that reaches the USB bus and its result, below the driver's logic, so that
// tests can assert the exact traffic and a trace writer can follow it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/kernel/ntstatus.h"
#include "platform/usb_stack/usb.h"

namespace bayercam {

enum class BusRequestKind : uint8_t {
    Control,          // descriptor and configuration requests on endpoint 0
    BulkOrInterrupt,  // a transfer on a bulk or interrupt pipe
    AbortPipe,
    ResetPipe,  // clear halt and reset of the host side
    GetPortStatus,
    ResetPort,
};

const char* BusRequestKindName(BusRequestKind kind);

struct BusRecord {
    uint64_t id;  // ascending in order of submission
    BusRequestKind kind;
    uint8_t endpoint;        // endpoint address (bit 7 set: device-to-host); 0 for endpoint 0
    USB_SETUP_PACKET setup;  // the request as it goes on the wire, for control requests
    bool in;                 // device-to-host
    uint32_t requestedLength;
    uint32_t actualLength;
    // OUT data as submitted, IN data as received; empty for transfers above kMaxRecordedData.
    std::vector<uint8_t> data;
    bool completed;
    USBD_STATUS usbdStatus;
    NTSTATUS ntStatus;
    uint64_t submittedNs;  // monotonic clock
    uint64_t completedNs;
};

class BusRecorder {
  public:
    static constexpr uint32_t kMaxRecordedData = 4096;
    static constexpr size_t kDefaultCapacity = 100'000;

    // Runs for every record when it is submitted (completed false) and when it completes, in the
    // thread that submits or completes it. Keep it short: it runs inside the bus.
    using Sink = std::function<void(const BusRecord& record)>;

    // Starts a record; the id identifies it to Complete. OUT data is taken from `data`.
    uint64_t Submit(BusRecord record, const uint8_t* data);
    // Finishes a record; IN data is taken from `data` (`actualLength` bytes).
    void Complete(uint64_t id, uint32_t actualLength, const uint8_t* data, USBD_STATUS usbdStatus,
                  NTSTATUS ntStatus);

    // The kept records in submission order (the oldest are dropped beyond the capacity).
    std::vector<BusRecord> Records() const;
    void Clear();
    void SetCapacity(size_t records);
    void SetSink(Sink sink);

  private:
    BusRecord* Find(uint64_t id);

    mutable std::mutex lock_;
    std::deque<BusRecord> records_;
    std::map<uint64_t, BusRecord> droppedPending_;  // dropped from records_ before completing
    uint64_t nextId_ = 1;
    size_t capacity_ = kDefaultCapacity;
    Sink sink_;
};

}  // namespace bayercam
