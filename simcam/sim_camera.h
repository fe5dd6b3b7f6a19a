// The simulated camera: a UsbBackend that answers the standard requests from its descriptors and
// serves its bulk endpoints from a thread of its own, started by the first transfer (or, with
// completeInSubmit, in Submit when it can). The camera protocol plugs in through hooks:
// a command handler for packets on the command endpoint, a response queue for the response
// endpoint and an image source for the image endpoint.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/usb_stack/usb_backend.h"
#include "simcam/sim_descriptors.h"

namespace bayercam::sim {

constexpr int kSensorRegisters = 1024;
constexpr int kLogicRegisters = 256;
constexpr int kClockSelectionRegister = 15;  // logic register

// What the camera does to one transfer instead of serving it normally.
enum class SimFaultAction {
    Stall,     // completes with a stall and halts the endpoint until its halt is cleared
    Error,     // completes with a device-not-responding error
    Short,     // completes with at most `shortLength` bytes
    NoAnswer,  // stays pending until cancelled
    Status,    // completes with `status` and nothing moved (cancelled, device gone, babble...)
    Long,      // moves what it would, but reports `overrun` bytes more than were asked for
};

struct SimFault {
    uint8_t endpoint;
    uint32_t packetNumber;  // 1 = the next transfer submitted to the endpoint
    SimFaultAction action;
    uint32_t shortLength = 0;
    USBD_STATUS status = USBD_STATUS_SUCCESS;
    uint32_t overrun = 0;
};

class SimCamera : public UsbBackend {
  public:
    // Runs on the camera's thread (or the submitter's, with completeInSubmit) for each packet
    // received on the command endpoint.
    using CommandHandler =
        std::function<void(SimCamera& camera, const uint8_t* packet, uint32_t length)>;
    // Runs on the camera's thread (or the submitter's) while a transfer waits on the image
    // endpoint: fills up to
    // `length` bytes and returns true with `*produced` set, or returns false to leave it waiting
    // (call WakeImageSource when data becomes available).
    using ImageSource = std::function<bool(uint8_t* buffer, uint32_t length, uint32_t* produced)>;

    explicit SimCamera(SimCameraOptions options = {});
    const SimCameraOptions& Options() const { return options_; }
    // Completes whatever is still pending with a device-gone status.
    ~SimCamera() override;
    SimCamera(const SimCamera&) = delete;
    SimCamera& operator=(const SimCamera&) = delete;

    // ---- UsbBackend ----
    USBD_STATUS ControlTransfer(const USB_SETUP_PACKET& setup, uint8_t* data,
                                uint32_t* transferred) override;
    USBD_STATUS SetConfiguration(uint8_t value) override;
    USBD_STATUS Submit(UsbTransfer* transfer) override;
    void Cancel(UsbTransfer* transfer) override;
    void AbortEndpoint(uint8_t endpoint) override;
    USBD_STATUS ClearHalt(uint8_t endpoint) override;
    uint32_t PortStatus() override;
    NTSTATUS ResetPort() override;

    // ---- Protocol hooks ----
    void SetCommandHandler(CommandHandler handler);
    // Runs like the command handler, just before it, for the image side of the camera: the frame
    // requests and marks arrive on the command endpoint too.
    void SetImageControl(CommandHandler handler);
    void SetImageSource(ImageSource source);
    void WakeImageSource();
    // Queues one packet for the response endpoint (any length; a short one makes a short read).
    void QueueResponse(const uint8_t* data, uint32_t length);
    // With `answer` set, a read on the response endpoint that finds nothing queued completes at
    // once with a zero-length packet instead of waiting for the reader's time-out: a fuzzed camera
    // would otherwise spend a whole packet time-out on each answer it left out. Until the next run.
    void SetAnswerEmptyReads(bool answer);

    // ---- Register file ----
    uint32_t SensorRegister(int address) const;
    void SetSensorRegister(int address, uint32_t value);
    uint8_t LogicRegister(int address) const;
    void SetLogicRegister(int address, uint8_t value);

    // ---- Test controls and observations ----
    void AddFault(const SimFault& fault);
    // Forgets what earlier runs left: armed faults, halted endpoints, queued responses, answered
    // empty reads and the record of received commands, so that a camera shared by many runs starts
    // each one clean.
    void StartNewRun();
    void SetPortStatus(uint32_t status);
    // Pulls the cable: every pending transfer completes with a device-gone status, later
    // requests fail at once, and the port reports nothing connected.
    void Unplug();
    int PortResets() const;
    int HaltsCleared(uint8_t endpoint) const;
    uint8_t Configuration() const;
    // Every packet received on the command endpoint, oldest first.
    std::vector<std::vector<uint8_t>> ReceivedCommands() const;
    // Transfers accepted and not yet completed.
    int PendingTransfers() const;

  private:
    struct Entry {
        UsbTransfer* transfer;
        bool cancelRequested;
        bool busy;  // handed to a hook outside the lock
        bool hasFault;
        SimFault fault;
    };
    struct Completion {
        UsbTransfer* transfer;
        USBD_STATUS status;
        uint32_t actualLength;
    };

    void Run();
    // Runs the completions; called unlocked.
    static void Complete(const std::vector<Completion>& done);
    // Takes the work that can be done now; returns false when there is none. Called locked.
    bool TakeWork(std::vector<Completion>& done, std::unique_lock<std::mutex>& lock);
    bool ServeHead(uint8_t endpoint, std::deque<Entry>& queue, std::vector<Completion>& done,
                   std::unique_lock<std::mutex>& lock);
    void CancelAllLocked(USBD_STATUS status);
    // Tells the camera's thread that there may be new work. Called locked.
    void WakeLocked();
    bool KnownEndpoint(uint8_t endpoint) const;

    const SimCameraOptions options_;
    const std::vector<uint8_t> deviceDescriptor_;
    const std::vector<uint8_t> configDescriptor_;

    mutable std::mutex lock_;
    std::condition_variable wake_;
    uint64_t wakeups_ = 0;  // counts WakeLocked calls, so that none is missed
    bool stopping_ = false;
    bool unplugged_ = false;
    uint8_t configuration_ = 0;
    uint32_t portStatus_;
    int portResets_ = 0;
    std::map<uint8_t, std::deque<Entry>> queues_;  // pending transfers by endpoint, in order
    std::vector<Completion> cancelled_;            // to complete on the camera's thread
    std::map<uint8_t, uint32_t> transferCounts_;   // transfers submitted per endpoint
    std::vector<SimFault> faults_;
    std::set<uint8_t> halted_;
    std::map<uint8_t, int> haltsCleared_;
    std::deque<std::vector<uint8_t>> responses_;
    bool answerEmptyReads_ = false;
    std::vector<std::vector<uint8_t>> commands_;
    CommandHandler commandHandler_;
    CommandHandler imageControl_;
    ImageSource imageSource_;
    std::array<uint32_t, kSensorRegisters> sensorRegisters_{};
    std::array<uint8_t, kLogicRegisters> logicRegisters_{};
    std::thread thread_;  // started by the first transfer
};

}  // namespace bayercam::sim
