#include "platform/usb_stack/bus_recorder.h"

#include <algorithm>
#include <chrono>

namespace bayercam {
namespace {

uint64_t NowNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace

const char* BusRequestKindName(BusRequestKind kind) {
    switch (kind) {
        case BusRequestKind::Control:
            return "control";
        case BusRequestKind::BulkOrInterrupt:
            return "bulk";
        case BusRequestKind::AbortPipe:
            return "abort-pipe";
        case BusRequestKind::ResetPipe:
            return "reset-pipe";
        case BusRequestKind::GetPortStatus:
            return "port-status";
        case BusRequestKind::ResetPort:
            return "reset-port";
    }
    return "?";
}

uint64_t BusRecorder::Submit(BusRecord record, const uint8_t* data) {
    record.completed = false;
    record.submittedNs = NowNs();
    record.data.clear();
    if (!record.in && data && record.requestedLength <= kMaxRecordedData) {
        record.data.assign(data, data + record.requestedLength);
    }
    std::lock_guard<std::mutex> guard(lock_);
    record.id = nextId_++;
    records_.push_back(std::move(record));
    while (records_.size() > capacity_) {
        if (!records_.front().completed) {
            droppedPending_.emplace(records_.front().id, std::move(records_.front()));
        }
        records_.pop_front();
    }
    if (sink_) sink_(records_.back());
    return records_.back().id;
}

BusRecord* BusRecorder::Find(uint64_t id) {
    auto it = std::lower_bound(records_.begin(), records_.end(), id,
                               [](const BusRecord& r, uint64_t wanted) { return r.id < wanted; });
    if (it != records_.end() && it->id == id) return &*it;
    auto dropped = droppedPending_.find(id);
    return dropped != droppedPending_.end() ? &dropped->second : nullptr;
}

void BusRecorder::Complete(uint64_t id, uint32_t actualLength, const uint8_t* data,
                           USBD_STATUS usbdStatus, NTSTATUS ntStatus) {
    std::lock_guard<std::mutex> guard(lock_);
    BusRecord* record = Find(id);
    if (!record) return;
    record->completed = true;
    record->completedNs = NowNs();
    record->actualLength = actualLength;
    record->usbdStatus = usbdStatus;
    record->ntStatus = ntStatus;
    if (record->in && data && record->requestedLength <= kMaxRecordedData) {
        record->data.assign(data, data + std::min(actualLength, record->requestedLength));
    }
    if (sink_) sink_(*record);
    droppedPending_.erase(id);
}

std::vector<BusRecord> BusRecorder::Records() const {
    std::lock_guard<std::mutex> guard(lock_);
    return {records_.begin(), records_.end()};
}

void BusRecorder::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    // Pending records stay findable so their completion still reaches the sink.
    for (auto& record : records_) {
        if (!record.completed) droppedPending_.emplace(record.id, std::move(record));
    }
    records_.clear();
}

void BusRecorder::SetCapacity(size_t records) {
    std::lock_guard<std::mutex> guard(lock_);
    capacity_ = records == 0 ? 1 : records;
}

void BusRecorder::SetSink(Sink sink) {
    std::lock_guard<std::mutex> guard(lock_);
    sink_ = std::move(sink);
}

}  // namespace bayercam
