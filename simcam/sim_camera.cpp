#include "simcam/sim_camera.h"

#include <algorithm>
#include <cstring>

#include "simcam/command_dispatcher.h"

namespace bayercam::sim {

SimCamera::SimCamera(SimCameraOptions options)
    : options_(std::move(options)),
      deviceDescriptor_(BuildDeviceDescriptor(options_)),
      configDescriptor_(BuildConfigDescriptor(options_)),
      portStatus_(options_.portStatus),
      commandHandler_(&DispatchCommand) {
    std::lock_guard<std::mutex> guard(lock_);
    logicRegisters_[kClockSelectionRegister] = options_.clockSelection;
}

SimCamera::~SimCamera() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        CancelAllLocked(USBD_STATUS_DEVICE_GONE);
        WakeLocked();
    }
    if (thread_.joinable()) thread_.join();
}

USBD_STATUS SimCamera::ControlTransfer(const USB_SETUP_PACKET& setup, uint8_t* data,
                                       uint32_t* transferred) {
    *transferred = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (unplugged_) return USBD_STATUS_DEVICE_GONE;
    }
    if (setup.bmRequestType != 0x80 || setup.bRequest != USB_REQUEST_GET_DESCRIPTOR) {
        return USBD_STATUS_STALL_PID;
    }
    uint8_t type = static_cast<uint8_t>(setup.wValue >> 8);
    if (type < 32 && (options_.failDescriptorTypes & (1u << type))) return USBD_STATUS_STALL_PID;
    const std::vector<uint8_t>* descriptor = nullptr;
    if (type == USB_DEVICE_DESCRIPTOR_TYPE) descriptor = &deviceDescriptor_;
    if (type == USB_CONFIGURATION_DESCRIPTOR_TYPE) descriptor = &configDescriptor_;
    if (!descriptor) return USBD_STATUS_STALL_PID;
    uint32_t length = std::min<uint32_t>(setup.wLength, static_cast<uint32_t>(descriptor->size()));
    if (length > 0 && !data) return USBD_STATUS_INVALID_PARAMETER;
    if (length > 0) std::memcpy(data, descriptor->data(), length);
    *transferred = length;
    return USBD_STATUS_SUCCESS;
}

USBD_STATUS SimCamera::SetConfiguration(uint8_t value) {
    std::lock_guard<std::mutex> guard(lock_);
    if (unplugged_) return USBD_STATUS_DEVICE_GONE;
    if (options_.failSetConfiguration) return USBD_STATUS_STALL_PID;
    if (value != 0 && value != options_.configurationValue) return USBD_STATUS_STALL_PID;
    // A configuration change ends every transfer of the previous one.
    CancelAllLocked(USBD_STATUS_CANCELED);
    halted_.clear();
    configuration_ = value;
    WakeLocked();
    return USBD_STATUS_SUCCESS;
}

bool SimCamera::KnownEndpoint(uint8_t endpoint) const {
    for (const SimInterface& interface : options_.interfaces) {
        for (const SimEndpoint& candidate : interface.endpoints) {
            if (candidate.address == endpoint) return true;
        }
    }
    return false;
}

USBD_STATUS SimCamera::Submit(UsbTransfer* transfer) {
    std::unique_lock<std::mutex> lock(lock_);
    if (stopping_ || unplugged_) return USBD_STATUS_DEVICE_GONE;
    if (configuration_ == 0 || !KnownEndpoint(transfer->endpoint)) {
        return USBD_STATUS_INVALID_PIPE_HANDLE;
    }
    // Only transfers give the thread work: a camera that never sees one (descriptor checks)
    // costs no thread.
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    Entry entry{transfer, false, false, false, {}};
    uint32_t number = ++transferCounts_[transfer->endpoint];
    auto fault = std::find_if(faults_.begin(), faults_.end(), [&](const SimFault& f) {
        return f.endpoint == transfer->endpoint && f.packetNumber == number;
    });
    if (fault != faults_.end()) {
        entry.hasFault = true;
        entry.fault = *fault;
        faults_.erase(fault);
    }
    std::deque<Entry>& queue = queues_[transfer->endpoint];
    queue.push_back(entry);
    if (options_.completeInSubmit && queue.size() == 1) {
        std::vector<Completion> done;
        if (ServeHead(transfer->endpoint, queue, done, lock)) {
            lock.unlock();
            Complete(done);
            return USBD_STATUS_SUCCESS;
        }
    }
    WakeLocked();
    return USBD_STATUS_SUCCESS;
}

void SimCamera::Cancel(UsbTransfer* transfer) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& [endpoint, queue] : queues_) {
        for (auto it = queue.begin(); it != queue.end(); ++it) {
            if (it->transfer != transfer) continue;
            if (it->busy) {
                it->cancelRequested = true;
            } else {
                cancelled_.push_back({transfer, USBD_STATUS_CANCELED, 0});
                queue.erase(it);
                WakeLocked();
            }
            return;
        }
    }
}

void SimCamera::AbortEndpoint(uint8_t endpoint) {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = queues_.find(endpoint);
    if (found == queues_.end()) return;
    auto& queue = found->second;
    for (auto it = queue.begin(); it != queue.end();) {
        if (it->busy) {
            it->cancelRequested = true;
            ++it;
        } else {
            cancelled_.push_back({it->transfer, USBD_STATUS_CANCELED, 0});
            it = queue.erase(it);
        }
    }
    WakeLocked();
}

void SimCamera::CancelAllLocked(USBD_STATUS status) {
    for (auto& [endpoint, queue] : queues_) {
        for (auto it = queue.begin(); it != queue.end();) {
            if (it->busy) {
                it->cancelRequested = true;
                ++it;
            } else {
                cancelled_.push_back({it->transfer, status, 0});
                it = queue.erase(it);
            }
        }
    }
}

USBD_STATUS SimCamera::ClearHalt(uint8_t endpoint) {
    std::lock_guard<std::mutex> guard(lock_);
    if (unplugged_) return USBD_STATUS_DEVICE_GONE;
    if (!KnownEndpoint(endpoint)) return USBD_STATUS_STALL_PID;
    halted_.erase(endpoint);
    ++haltsCleared_[endpoint];
    WakeLocked();
    return USBD_STATUS_SUCCESS;
}

uint32_t SimCamera::PortStatus() {
    std::lock_guard<std::mutex> guard(lock_);
    return portStatus_;
}

NTSTATUS SimCamera::ResetPort() {
    std::lock_guard<std::mutex> guard(lock_);
    ++portResets_;
    if (unplugged_) return STATUS_DEVICE_NOT_CONNECTED;
    if (NT_SUCCESS(options_.resetPortStatus) && (portStatus_ & USBD_PORT_CONNECTED)) {
        portStatus_ |= USBD_PORT_ENABLED;
    }
    return options_.resetPortStatus;
}

void SimCamera::SetCommandHandler(CommandHandler handler) {
    std::lock_guard<std::mutex> guard(lock_);
    commandHandler_ = std::move(handler);
}

void SimCamera::SetImageControl(CommandHandler handler) {
    std::lock_guard<std::mutex> guard(lock_);
    imageControl_ = std::move(handler);
}

void SimCamera::SetImageSource(ImageSource source) {
    std::lock_guard<std::mutex> guard(lock_);
    imageSource_ = std::move(source);
    WakeLocked();
}

void SimCamera::WakeImageSource() {
    std::lock_guard<std::mutex> guard(lock_);
    WakeLocked();
}

void SimCamera::QueueResponse(const uint8_t* data, uint32_t length) {
    std::lock_guard<std::mutex> guard(lock_);
    responses_.emplace_back(data, data + length);
    WakeLocked();
}

void SimCamera::SetAnswerEmptyReads(bool answer) {
    std::lock_guard<std::mutex> guard(lock_);
    answerEmptyReads_ = answer;
    WakeLocked();
}

uint32_t SimCamera::SensorRegister(int address) const {
    std::lock_guard<std::mutex> guard(lock_);
    return address >= 0 && address < kSensorRegisters ? sensorRegisters_[address] : 0;
}

void SimCamera::SetSensorRegister(int address, uint32_t value) {
    std::lock_guard<std::mutex> guard(lock_);
    if (address >= 0 && address < kSensorRegisters) sensorRegisters_[address] = value;
}

uint8_t SimCamera::LogicRegister(int address) const {
    std::lock_guard<std::mutex> guard(lock_);
    return address >= 0 && address < kLogicRegisters ? logicRegisters_[address] : 0;
}

void SimCamera::SetLogicRegister(int address, uint8_t value) {
    std::lock_guard<std::mutex> guard(lock_);
    if (address >= 0 && address < kLogicRegisters) logicRegisters_[address] = value;
}

void SimCamera::AddFault(const SimFault& fault) {
    std::lock_guard<std::mutex> guard(lock_);
    faults_.push_back(fault);
    faults_.back().packetNumber += transferCounts_[fault.endpoint];
}

void SimCamera::StartNewRun() {
    std::lock_guard<std::mutex> guard(lock_);
    faults_.clear();
    halted_.clear();
    responses_.clear();
    answerEmptyReads_ = false;
    commands_.clear();
    WakeLocked();
}

void SimCamera::SetPortStatus(uint32_t status) {
    std::lock_guard<std::mutex> guard(lock_);
    portStatus_ = status;
}

void SimCamera::Unplug() {
    std::lock_guard<std::mutex> guard(lock_);
    unplugged_ = true;
    portStatus_ = 0;
    CancelAllLocked(USBD_STATUS_DEVICE_GONE);
    WakeLocked();
}

int SimCamera::PortResets() const {
    std::lock_guard<std::mutex> guard(lock_);
    return portResets_;
}

int SimCamera::HaltsCleared(uint8_t endpoint) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = haltsCleared_.find(endpoint);
    return found == haltsCleared_.end() ? 0 : found->second;
}

uint8_t SimCamera::Configuration() const {
    std::lock_guard<std::mutex> guard(lock_);
    return configuration_;
}

std::vector<std::vector<uint8_t>> SimCamera::ReceivedCommands() const {
    std::lock_guard<std::mutex> guard(lock_);
    return commands_;
}

int SimCamera::PendingTransfers() const {
    std::lock_guard<std::mutex> guard(lock_);
    size_t pending = cancelled_.size();
    for (const auto& [endpoint, queue] : queues_) pending += queue.size();
    return static_cast<int>(pending);
}

void SimCamera::WakeLocked() {
    ++wakeups_;
    wake_.notify_all();
}

void SimCamera::Run() {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        std::vector<Completion> done;
        // A pass unlocks while a hook runs; what arrives meanwhile must not wait for the next.
        uint64_t seen = wakeups_;
        if (!TakeWork(done, lock)) {
            bool idle = cancelled_.empty() &&
                        std::all_of(queues_.begin(), queues_.end(),
                                    [](const auto& queue) { return queue.second.empty(); });
            if (stopping_ && idle) return;
            wake_.wait(lock, [&] { return wakeups_ != seen; });
            continue;
        }
        // Completions run unlocked: they may submit the next transfer at once.
        lock.unlock();
        Complete(done);
        lock.lock();
    }
}

void SimCamera::Complete(const std::vector<Completion>& done) {
    for (const Completion& completion : done) {
        completion.transfer->status = completion.status;
        completion.transfer->actualLength = completion.actualLength;
        completion.transfer->complete(completion.transfer);
    }
}

bool SimCamera::TakeWork(std::vector<Completion>& done, std::unique_lock<std::mutex>& lock) {
    bool any = !cancelled_.empty();
    done.insert(done.end(), cancelled_.begin(), cancelled_.end());
    cancelled_.clear();
    for (auto& [endpoint, queue] : queues_) {
        while (!queue.empty() && !queue.front().busy && ServeHead(endpoint, queue, done, lock)) {
            any = true;
        }
    }
    return any;
}

bool SimCamera::ServeHead(uint8_t endpoint, std::deque<Entry>& queue, std::vector<Completion>& done,
                          std::unique_lock<std::mutex>& lock) {
    Entry& head = queue.front();
    UsbTransfer* transfer = head.transfer;
    auto finish = [&](USBD_STATUS status, uint32_t length) {
        queue.pop_front();
        done.push_back({transfer, status, length});
        return true;
    };
    uint32_t limit = transfer->length;
    if (halted_.count(endpoint)) return finish(USBD_STATUS_STALL_PID, 0);
    if (head.hasFault) {
        switch (head.fault.action) {
            case SimFaultAction::Stall:
                halted_.insert(endpoint);
                return finish(USBD_STATUS_STALL_PID, 0);
            case SimFaultAction::Error:
                return finish(USBD_STATUS_DEV_NOT_RESPONDING, 0);
            case SimFaultAction::Status:
                return finish(head.fault.status, 0);
            case SimFaultAction::NoAnswer:
                return false;
            case SimFaultAction::Short:
                limit = std::min(limit, head.fault.shortLength);
                break;
            case SimFaultAction::Long:
                break;
        }
    }
    // Only ever added to a length already within the buffer: the bytes moved stay in bounds.
    const uint32_t overrun =
        head.hasFault && head.fault.action == SimFaultAction::Long ? head.fault.overrun : 0;

    if (!(endpoint & 0x80)) {
        if (endpoint == kCommandEndpoint) {
            commands_.emplace_back(transfer->buffer, transfer->buffer + limit);
            if (commandHandler_ || imageControl_) {
                // The handlers may queue responses or touch registers, which take the lock.
                CommandHandler image = imageControl_;
                CommandHandler handler = commandHandler_;
                head.busy = true;
                lock.unlock();
                if (image) image(*this, transfer->buffer, limit);
                if (handler) handler(*this, transfer->buffer, limit);
                lock.lock();
            }
        }
        return finish(USBD_STATUS_SUCCESS, limit + overrun);
    }
    if (endpoint == kResponseEndpoint) {
        if (responses_.empty()) return answerEmptyReads_ && finish(USBD_STATUS_SUCCESS, overrun);
        const std::vector<uint8_t>& response = responses_.front();
        uint32_t length = std::min(limit, static_cast<uint32_t>(response.size()));
        // A zero-length packet has no bytes, and its data pointer may be null.
        if (length > 0) std::memcpy(transfer->buffer, response.data(), length);
        responses_.pop_front();
        return finish(USBD_STATUS_SUCCESS, length + overrun);
    }
    if (endpoint == kImageEndpoint && imageSource_) {
        ImageSource source = imageSource_;
        head.busy = true;
        lock.unlock();
        uint32_t produced = 0;
        bool ready = source(transfer->buffer, limit, &produced);
        lock.lock();
        // Only unbusy entries are ever removed, so the head is still this transfer.
        Entry& again = queue.front();
        again.busy = false;
        if (ready) return finish(USBD_STATUS_SUCCESS, std::min(produced, limit) + overrun);
        if (again.cancelRequested) return finish(USBD_STATUS_CANCELED, 0);
        return false;
    }
    return false;
}

}  // namespace bayercam::sim
