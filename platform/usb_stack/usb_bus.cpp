#include "platform/usb_stack/usb_bus.h"

#include <algorithm>
#include <functional>

#include "platform/kernel/pool.h"
#include "platform/usb_stack/usb_descriptors.h"

namespace bayercam {

// One bulk or interrupt transfer in flight. Three references keep it alive: the submitting
// dispatch, the completion and the cancel routine (dropped by whoever learns it will not run).
struct UsbBus::Transfer {
    UsbTransfer transfer;
    UsbBus* bus;
    IRP* irp;
    URB* urb;
    uint64_t recordId;
    std::atomic<int> references;
    // 0 while being submitted, 1 once the device has it, 2 when a cancel came during submission.
    std::atomic<int> stage;
};

namespace {

constexpr int kSubmitting = 0;
constexpr int kSubmitted = 1;
constexpr int kCancelWhileSubmitting = 2;

NTSTATUS CompleteNow(IRP* irp, NTSTATUS status, uintptr_t information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, 0);
    return status;
}

void* TransferAddress(void* buffer, MDL* mdl) {
    return buffer ? buffer : MmGetSystemAddressForMdlSafe(mdl);
}

}  // namespace

NTSTATUS NtStatusFromUsbd(USBD_STATUS status) {
    if (USBD_SUCCESS(status)) return STATUS_SUCCESS;
    switch (status) {
        case USBD_STATUS_CANCELED:
            return STATUS_CANCELLED;
        case USBD_STATUS_DEVICE_GONE:
            return STATUS_DEVICE_NOT_CONNECTED;
        case USBD_STATUS_INVALID_PARAMETER:
        case USBD_STATUS_INVALID_PIPE_HANDLE:
        case USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR:
            return STATUS_INVALID_PARAMETER;
        default:
            return STATUS_UNSUCCESSFUL;
    }
}

UsbBus::UsbBus(UsbBackend& backend) : backend_(backend) {
    device_.StackSize = 1;
    device_.InternalDeviceControl = &UsbBus::Dispatch;
    device_.DeviceExtension = this;
}

UsbBus::~UsbBus() {
    std::vector<uint8_t> open;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const Pipe& pipe : pipes_) {
            if (pipe.open) open.push_back(pipe.endpoint);
        }
    }
    for (uint8_t endpoint : open) backend_.AbortEndpoint(endpoint);
    std::unique_lock<std::mutex> guard(lock_);
    idle_.wait(guard, [this] { return pendingTransfers_ == 0; });
    stopping_ = true;
    deferredWake_.notify_all();
    guard.unlock();
    if (completer_.joinable()) completer_.join();
}

void UsbBus::SetAsynchronousCompletion(uint64_t seed, uint32_t maxDelayMicroseconds) {
    std::lock_guard<std::mutex> guard(lock_);
    random_.seed(seed);
    maxDelayMicroseconds_ = maxDelayMicroseconds;
    asynchronous_ = true;
    if (!completer_.joinable()) completer_ = std::thread([this] { RunDeferredCompletions(); });
}

NTSTATUS UsbBus::Complete(IRP* irp, NTSTATUS status, uintptr_t information) {
    return Defer(irp, status, information) ? STATUS_PENDING : CompleteNow(irp, status, information);
}

bool UsbBus::Defer(IRP* irp, NTSTATUS status, uintptr_t information) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!asynchronous_) return false;
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoMarkIrpPending(irp);
    std::uniform_int_distribution<uint32_t> delay(0, maxDelayMicroseconds_);
    auto due = std::chrono::steady_clock::now() + std::chrono::microseconds(delay(random_));
    deferred_.emplace(due, irp);
    deferredWake_.notify_all();
    return true;
}

void UsbBus::RunDeferredCompletions() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        if (deferred_.empty()) {
            if (stopping_) return;
            deferredWake_.wait(guard);
            continue;
        }
        auto first = deferred_.begin();
        if (!stopping_ && first->first > std::chrono::steady_clock::now()) {
            deferredWake_.wait_until(guard, first->first);
            continue;
        }
        IRP* irp = first->second;
        deferred_.erase(first);
        guard.unlock();
        IoCompleteRequest(irp, 0);
        guard.lock();
    }
}

void UsbBus::SetMaximumTransferSize(uint32_t bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    maximumTransferSize_ = bytes;
}

void UsbBus::InjectFault(const BusFault& fault) {
    std::lock_guard<std::mutex> guard(lock_);
    if (fault.nth > 0) faults_.push_back(fault);
}

void UsbBus::ClearFaults() {
    std::lock_guard<std::mutex> guard(lock_);
    faults_.clear();
}

int UsbBus::PendingTransfers() const {
    std::lock_guard<std::mutex> guard(lock_);
    return pendingTransfers_;
}

bool UsbBus::TakeFault(BusRequestKind kind, int endpoint, NTSTATUS* status,
                       USBD_STATUS* usbdStatus) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->kind != kind) continue;
        if (it->endpoint != BusFault::kAnyEndpoint && it->endpoint != endpoint) continue;
        if (--it->nth > 0) continue;
        *status = it->status;
        *usbdStatus = it->usbdStatus;
        faults_.erase(it);
        return true;
    }
    return false;
}

int UsbBus::PipeIndex(uint8_t endpoint) {
    return (endpoint & 0x0F) | ((endpoint & 0x80) ? 16 : 0);
}

bool UsbBus::FindPipe(USBD_PIPE_HANDLE handle, Pipe* pipe) {
    std::lock_guard<std::mutex> guard(lock_);
    auto address = reinterpret_cast<uintptr_t>(handle);
    auto first = reinterpret_cast<uintptr_t>(&pipes_[0]);
    auto last = reinterpret_cast<uintptr_t>(&pipes_[kPipeSlots - 1]);
    if (address < first || address > last || (address - first) % sizeof(Pipe) != 0) return false;
    const Pipe& found = *static_cast<const Pipe*>(handle);
    if (!found.open) return false;
    *pipe = found;
    return true;
}

NTSTATUS UsbBus::Dispatch(DEVICE_OBJECT* device, IRP* irp) {
    auto* bus = static_cast<UsbBus*>(device->DeviceExtension);
    IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
    switch (location->Parameters.IoControlCode) {
        case IOCTL_INTERNAL_USB_SUBMIT_URB:
            return bus->SubmitUrb(irp, static_cast<URB*>(location->Parameters.Argument1));
        case IOCTL_INTERNAL_USB_GET_PORT_STATUS:
            return bus->GetPortStatus(irp);
        case IOCTL_INTERNAL_USB_RESET_PORT:
            return bus->ResetPort(irp);
        default:
            return bus->Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

NTSTATUS UsbBus::SubmitUrb(IRP* irp, URB* urb) {
    if (!urb) return Complete(irp, STATUS_INVALID_PARAMETER);
    switch (urb->UrbHeader.Function) {
        case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
            return GetDescriptor(irp, urb);
        case URB_FUNCTION_SELECT_CONFIGURATION:
            return SelectConfiguration(irp, urb);
        case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
            return BulkOrInterruptTransfer(irp, urb);
        case URB_FUNCTION_ABORT_PIPE:
        case URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL:
            return PipeRequest(irp, urb);
        default:
            urb->UrbHeader.Status = USBD_STATUS_INVALID_PARAMETER;
            return Complete(irp, STATUS_NOT_SUPPORTED);
    }
}

NTSTATUS UsbBus::GetDescriptor(IRP* irp, URB* urb) {
    auto& request = urb->UrbControlDescriptorRequest;
    BusRecord record{};
    record.kind = BusRequestKind::Control;
    record.in = true;
    record.setup = {
        0x80, USB_REQUEST_GET_DESCRIPTOR,
        static_cast<uint16_t>(request.DescriptorType << 8 | request.Index), request.LanguageId,
        static_cast<uint16_t>(std::min<uint32_t>(request.TransferBufferLength, UINT16_MAX))};
    record.requestedLength = record.setup.wLength;
    uint64_t id = recorder_.Submit(record, nullptr);

    auto* data =
        static_cast<uint8_t*>(TransferAddress(request.TransferBuffer, request.TransferBufferMDL));
    NTSTATUS status;
    USBD_STATUS usbdStatus;
    uint32_t transferred = 0;
    if (!TakeFault(BusRequestKind::Control, 0, &status, &usbdStatus)) {
        if (!data && record.requestedLength > 0) {
            usbdStatus = USBD_STATUS_INVALID_PARAMETER;
        } else {
            usbdStatus = backend_.ControlTransfer(record.setup, data, &transferred);
        }
        status = NtStatusFromUsbd(usbdStatus);
    }
    if (!USBD_SUCCESS(usbdStatus)) transferred = 0;
    request.TransferBufferLength = transferred;
    urb->UrbHeader.Status = usbdStatus;
    recorder_.Complete(id, transferred, data, usbdStatus, status);
    return Complete(irp, status, transferred);
}

NTSTATUS UsbBus::SelectConfiguration(IRP* irp, URB* urb) {
    auto& select = urb->UrbSelectConfiguration;
    USB_CONFIGURATION_DESCRIPTOR* config = select.ConfigurationDescriptor;
    BusRecord record{};
    record.kind = BusRequestKind::Control;
    record.setup = {0x00, USB_REQUEST_SET_CONFIGURATION,
                    static_cast<uint16_t>(config ? config->bConfigurationValue : 0), 0, 0};
    uint64_t id = recorder_.Submit(record, nullptr);

    // Build the new pipe set first; nothing changes unless the device accepts the configuration.
    Pipe pipes[kPipeSlots]{};
    NTSTATUS status = STATUS_SUCCESS;
    USBD_STATUS usbdStatus = USBD_STATUS_SUCCESS;
    if (config) {
        uint32_t limit;
        {
            std::lock_guard<std::mutex> guard(lock_);
            limit = maximumTransferSize_;
        }
        size_t offset = offsetof(_URB_SELECT_CONFIGURATION, Interface);
        auto* bytes = reinterpret_cast<uint8_t*>(urb);
        while (offset + offsetof(USBD_INTERFACE_INFORMATION, Pipes) <= urb->UrbHeader.Length) {
            auto* info = reinterpret_cast<USBD_INTERFACE_INFORMATION*>(bytes + offset);
            const USB_INTERFACE_DESCRIPTOR* descriptor = USBD_ParseConfigurationDescriptorEx(
                config, config, info->InterfaceNumber, info->AlternateSetting, -1, -1, -1);
            const USB_ENDPOINT_DESCRIPTOR* endpoints[kMaxInterfaceEndpoints];
            int found = descriptor ? InterfaceEndpoints(config, descriptor, endpoints,
                                                        kMaxInterfaceEndpoints)
                                   : 0;
            if (!descriptor || info->Length < InterfaceInformationSize(info->NumberOfPipes) ||
                offset + info->Length > urb->UrbHeader.Length ||
                info->NumberOfPipes != descriptor->bNumEndpoints ||
                found < static_cast<int>(info->NumberOfPipes)) {
                usbdStatus = USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR;
                break;
            }
            info->Class = descriptor->bInterfaceClass;
            info->SubClass = descriptor->bInterfaceSubClass;
            info->Protocol = descriptor->bInterfaceProtocol;
            info->InterfaceHandle = info;
            for (uint32_t i = 0; i < info->NumberOfPipes; ++i) {
                const USB_ENDPOINT_DESCRIPTOR* endpoint = endpoints[i];
                USBD_PIPE_INFORMATION& pipe = info->Pipes[i];
                int index = PipeIndex(endpoint->bEndpointAddress);
                pipes[index] = {endpoint->bEndpointAddress,
                                static_cast<USBD_PIPE_TYPE>(endpoint->bmAttributes & 0x03),
                                std::min(pipe.MaximumTransferSize, limit), true};
                pipe.MaximumPacketSize = endpoint->wMaxPacketSize;
                pipe.EndpointAddress = endpoint->bEndpointAddress;
                pipe.Interval = endpoint->bInterval;
                pipe.PipeType = pipes[index].type;
                pipe.PipeHandle = &pipes_[index];
                pipe.MaximumTransferSize = pipes[index].maximumTransferSize;
            }
            offset += info->Length;
        }
    }
    if (!TakeFault(BusRequestKind::Control, 0, &status, &usbdStatus)) {
        if (USBD_SUCCESS(usbdStatus)) {
            usbdStatus = backend_.SetConfiguration(config ? config->bConfigurationValue : 0);
        }
        status = NtStatusFromUsbd(usbdStatus);
    }
    if (USBD_SUCCESS(usbdStatus)) {
        std::lock_guard<std::mutex> guard(lock_);
        std::copy(std::begin(pipes), std::end(pipes), std::begin(pipes_));
        select.ConfigurationHandle = config ? config : nullptr;
    }
    urb->UrbHeader.Status = usbdStatus;
    recorder_.Complete(id, 0, nullptr, usbdStatus, status);
    return Complete(irp, status);
}

NTSTATUS UsbBus::PipeRequest(IRP* irp, URB* urb) {
    bool abort = urb->UrbHeader.Function == URB_FUNCTION_ABORT_PIPE;
    Pipe pipe{};
    bool valid = FindPipe(urb->UrbPipeRequest.PipeHandle, &pipe);
    BusRecord record{};
    record.kind = abort ? BusRequestKind::AbortPipe : BusRequestKind::ResetPipe;
    record.endpoint = pipe.endpoint;
    record.in = (pipe.endpoint & 0x80) != 0;
    if (!abort) {
        // On the wire the reset is CLEAR_FEATURE(ENDPOINT_HALT) to the endpoint.
        record.setup = {0x02, USB_REQUEST_CLEAR_FEATURE, USB_FEATURE_ENDPOINT_STALL, pipe.endpoint,
                        0};
    }
    uint64_t id = recorder_.Submit(record, nullptr);

    NTSTATUS status;
    USBD_STATUS usbdStatus;
    if (!TakeFault(record.kind, pipe.endpoint, &status, &usbdStatus)) {
        if (!valid) {
            usbdStatus = USBD_STATUS_INVALID_PIPE_HANDLE;
        } else if (abort) {
            backend_.AbortEndpoint(pipe.endpoint);
            usbdStatus = USBD_STATUS_SUCCESS;
        } else {
            usbdStatus = backend_.ClearHalt(pipe.endpoint);
        }
        status = NtStatusFromUsbd(usbdStatus);
    }
    urb->UrbHeader.Status = usbdStatus;
    recorder_.Complete(id, 0, nullptr, usbdStatus, status);
    return Complete(irp, status);
}

NTSTATUS UsbBus::GetPortStatus(IRP* irp) {
    auto* portStatus =
        static_cast<uint32_t*>(IoGetCurrentIrpStackLocation(irp)->Parameters.Argument1);
    BusRecord record{};
    record.kind = BusRequestKind::GetPortStatus;
    record.in = true;
    record.requestedLength = sizeof(uint32_t);
    uint64_t id = recorder_.Submit(record, nullptr);
    NTSTATUS status;
    USBD_STATUS usbdStatus;
    uint32_t value = 0;
    if (!TakeFault(record.kind, 0, &status, &usbdStatus)) {
        if (portStatus) {
            value = backend_.PortStatus();
            *portStatus = value;
            status = STATUS_SUCCESS;
        } else {
            status = STATUS_INVALID_PARAMETER;
        }
    }
    bool done = NT_SUCCESS(status) && portStatus;
    recorder_.Complete(id, done ? sizeof value : 0, reinterpret_cast<uint8_t*>(&value),
                       USBD_STATUS_SUCCESS, status);
    return Complete(irp, status);
}

NTSTATUS UsbBus::ResetPort(IRP* irp) {
    BusRecord record{};
    record.kind = BusRequestKind::ResetPort;
    uint64_t id = recorder_.Submit(record, nullptr);
    NTSTATUS status;
    USBD_STATUS usbdStatus;
    if (!TakeFault(record.kind, 0, &status, &usbdStatus)) status = backend_.ResetPort();
    recorder_.Complete(id, 0, nullptr, USBD_STATUS_SUCCESS, status);
    return Complete(irp, status);
}

NTSTATUS UsbBus::BulkOrInterruptTransfer(IRP* irp, URB* urb) {
    auto& request = urb->UrbBulkOrInterruptTransfer;
    Pipe pipe{};
    bool valid = FindPipe(request.PipeHandle, &pipe);
    auto* data =
        static_cast<uint8_t*>(TransferAddress(request.TransferBuffer, request.TransferBufferMDL));
    BusRecord record{};
    record.kind = BusRequestKind::BulkOrInterrupt;
    record.endpoint = pipe.endpoint;
    record.in = (pipe.endpoint & 0x80) != 0;
    record.requestedLength = request.TransferBufferLength;

    NTSTATUS status;
    USBD_STATUS usbdStatus;
    bool fault = TakeFault(record.kind, pipe.endpoint, &status, &usbdStatus);
    if (!fault) {
        bool bulkOrInterrupt = pipe.type == UsbdPipeTypeBulk || pipe.type == UsbdPipeTypeInterrupt;
        bool bufferFits =
            request.TransferBufferLength == 0 ||
            (data && (request.TransferBuffer ||
                      request.TransferBufferMDL->ByteCount >= request.TransferBufferLength));
        if (!valid || !bulkOrInterrupt) {
            usbdStatus = USBD_STATUS_INVALID_PIPE_HANDLE;
        } else if (!bufferFits || request.TransferBufferLength > pipe.maximumTransferSize) {
            usbdStatus = USBD_STATUS_INVALID_PARAMETER;
        }
        fault = !valid || !bulkOrInterrupt || !bufferFits ||
                request.TransferBufferLength > pipe.maximumTransferSize;
        if (fault) status = NtStatusFromUsbd(usbdStatus);
    }
    Transfer* transfer = fault ? nullptr : PoolNew<Transfer>();
    if (!fault && !transfer) {
        status = STATUS_INSUFFICIENT_RESOURCES;
        usbdStatus = USBD_STATUS_ERROR_BUSY;
        fault = true;
    }
    if (fault) {
        uint64_t id = recorder_.Submit(record, data);
        request.TransferBufferLength = 0;
        urb->UrbHeader.Status = usbdStatus;
        recorder_.Complete(id, 0, nullptr, usbdStatus, status);
        return Complete(irp, status);
    }

    transfer->transfer.endpoint = pipe.endpoint;
    transfer->transfer.buffer = data;
    transfer->transfer.length = request.TransferBufferLength;
    transfer->transfer.complete = &UsbBus::TransferComplete;
    transfer->transfer.context = transfer;
    transfer->bus = this;
    transfer->irp = irp;
    transfer->urb = urb;
    transfer->references.store(3);
    transfer->stage.store(kSubmitting);
    {
        std::lock_guard<std::mutex> guard(lock_);
        ++pendingTransfers_;
    }
    irp->DriverContext[0] = transfer;
    IoMarkIrpPending(irp);
    transfer->recordId = recorder_.Submit(record, data);
    IoSetCancelRoutine(irp, &UsbBus::CancelTransfer);
    if (irp->Cancel.load() && IoSetCancelRoutine(irp, nullptr)) {
        // Cancelled before it reached the device; the routine was taken back and will not run.
        Release(transfer);
        transfer->transfer.status = USBD_STATUS_CANCELED;
        TransferComplete(&transfer->transfer);
    } else {
        USBD_STATUS submitted = backend_.Submit(&transfer->transfer);
        if (!USBD_SUCCESS(submitted)) {
            // The device refused it, so its completion will never run: complete it here.
            transfer->transfer.status = submitted;
            transfer->transfer.actualLength = 0;
            TransferComplete(&transfer->transfer);
        } else {
            int expected = kSubmitting;
            if (!transfer->stage.compare_exchange_strong(expected, kSubmitted)) {
                backend_.Cancel(&transfer->transfer);
            }
        }
    }
    Release(transfer);
    return STATUS_PENDING;
}

void UsbBus::TransferComplete(UsbTransfer* done) {
    auto* transfer = static_cast<Transfer*>(done->context);
    UsbBus* bus = transfer->bus;
    IRP* irp = transfer->irp;
    USBD_STATUS usbdStatus = done->status;
    uint32_t actual = USBD_SUCCESS(usbdStatus) ? std::min(done->actualLength, done->length) : 0;
    NTSTATUS status = NtStatusFromUsbd(usbdStatus);
    transfer->urb->UrbBulkOrInterruptTransfer.TransferBufferLength = actual;
    transfer->urb->UrbHeader.Status = usbdStatus;
    bus->recorder_.Complete(transfer->recordId, actual, done->buffer, usbdStatus, status);
    // When the routine can no longer run, its reference is ours to drop.
    if (IoSetCancelRoutine(irp, nullptr)) bus->Release(transfer);
    // Let go of the transfer before the request completes, so that a driver woken by the
    // completion finds nothing of its request still allocated or counted in the bus. Only the
    // request is touched after this, never the bus.
    bus->Release(transfer);
    bool deferred = bus->Defer(irp, status, actual);
    bus->TransferDone();
    if (!deferred) CompleteNow(irp, status, actual);
}

void UsbBus::CancelTransfer(DEVICE_OBJECT*, IRP* irp) {
    auto* transfer = static_cast<Transfer*>(irp->DriverContext[0]);
    UsbBus* bus = transfer->bus;
    int expected = kSubmitting;
    if (!transfer->stage.compare_exchange_strong(expected, kCancelWhileSubmitting)) {
        bus->backend_.Cancel(&transfer->transfer);
    }
    bus->Release(transfer);
}

void UsbBus::Release(Transfer* transfer) {
    if (transfer->references.fetch_sub(1) == 1) PoolDelete(transfer);
}

void UsbBus::TransferDone() {
    std::lock_guard<std::mutex> guard(lock_);
    if (--pendingTransfers_ == 0) idle_.notify_all();
}

}  // namespace bayercam
