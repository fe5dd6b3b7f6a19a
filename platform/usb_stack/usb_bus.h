// The USB stack stand-in: the physical device object below the driver. Its internal
// device-control dispatch serves URBs and port requests through a UsbBackend (the simulated
// camera or a real one) the way the USB stack would, and records every request.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "platform/kernel/irp.h"
#include "platform/usb_stack/bus_recorder.h"
#include "platform/usb_stack/usb.h"
#include "platform/usb_stack/usb_backend.h"

namespace bayercam {

// The NT status the USB stack completes a request with for a URB status.
NTSTATUS NtStatusFromUsbd(USBD_STATUS status);

// An injected failure: the n-th request of a kind (and endpoint) from now is completed with the
// given statuses without reaching the device.
struct BusFault {
    BusRequestKind kind;
    uint32_t nth;                 // 1 = the next matching request
    NTSTATUS status;              // the request's status
    USBD_STATUS usbdStatus;       // the URB's status, for URB requests
    int endpoint = kAnyEndpoint;  // transfers only: the endpoint address to match
    static constexpr int kAnyEndpoint = -1;
};

class UsbBus {
  public:
    // The backend must outlive the bus.
    explicit UsbBus(UsbBackend& backend);
    // Aborts what is still queued on the device and waits until every transfer has completed.
    ~UsbBus();
    UsbBus(const UsbBus&) = delete;
    UsbBus& operator=(const UsbBus&) = delete;

    // The device object the driver is added over: its physical and next-lower device.
    DEVICE_OBJECT* PhysicalDevice() { return &device_; }
    BusRecorder& Recorder() { return recorder_; }

    // The host stack's limit on one transfer, reported as each pipe's maximum transfer size.
    void SetMaximumTransferSize(uint32_t bytes);
    void InjectFault(const BusFault& fault);
    void ClearFaults();
    // Transfers passed to the device and not yet completed.
    int PendingTransfers() const;
    // From now on every request is answered pending and completed later from a thread of the
    // bus, after a delay drawn from a seeded generator (0 to `maxDelayMicroseconds`), so that
    // requests may complete in another order than they were made. Shakes out callers that assume
    // a request is done when the call returns.
    void SetAsynchronousCompletion(uint64_t seed, uint32_t maxDelayMicroseconds);

  private:
    struct Pipe {
        uint8_t endpoint;
        USBD_PIPE_TYPE type;
        uint32_t maximumTransferSize;
        bool open;
    };
    struct Transfer;

    static NTSTATUS Dispatch(DEVICE_OBJECT* device, IRP* irp);
    static void TransferComplete(UsbTransfer* transfer);
    static void CancelTransfer(DEVICE_OBJECT* device, IRP* irp);

    NTSTATUS SubmitUrb(IRP* irp, URB* urb);
    NTSTATUS GetDescriptor(IRP* irp, URB* urb);
    NTSTATUS SelectConfiguration(IRP* irp, URB* urb);
    NTSTATUS BulkOrInterruptTransfer(IRP* irp, URB* urb);
    NTSTATUS PipeRequest(IRP* irp, URB* urb);
    NTSTATUS GetPortStatus(IRP* irp);
    NTSTATUS ResetPort(IRP* irp);

    // True (and the fault's statuses set) when an injected fault takes this request.
    bool TakeFault(BusRequestKind kind, int endpoint, NTSTATUS* status, USBD_STATUS* usbdStatus);
    // The open pipe behind a handle, copied under the lock; false for a stale or foreign handle.
    bool FindPipe(USBD_PIPE_HANDLE handle, Pipe* pipe);
    static int PipeIndex(uint8_t endpoint);
    void Release(Transfer* transfer);
    void TransferDone();
    // Completes the request now, or marks it pending and hands it to the completion thread.
    NTSTATUS Complete(IRP* irp, NTSTATUS status, uintptr_t information = 0);
    // In the asynchronous mode, sets the request's result and queues its completion: true.
    bool Defer(IRP* irp, NTSTATUS status, uintptr_t information);
    void RunDeferredCompletions();

    UsbBackend& backend_;
    DEVICE_OBJECT device_{};
    BusRecorder recorder_;

    mutable std::mutex lock_;
    std::condition_variable idle_;
    static constexpr int kPipeSlots = 32;  // by endpoint number, IN endpoints in the upper half
    Pipe pipes_[kPipeSlots]{};
    uint32_t maximumTransferSize_ = UINT32_MAX;
    std::vector<BusFault> faults_;
    int pendingTransfers_ = 0;

    bool asynchronous_ = false;
    bool stopping_ = false;
    uint32_t maxDelayMicroseconds_ = 0;
    std::mt19937_64 random_;
    std::multimap<std::chrono::steady_clock::time_point, IRP*> deferred_;
    std::condition_variable deferredWake_;
    std::thread completer_;
};

}  // namespace bayercam
