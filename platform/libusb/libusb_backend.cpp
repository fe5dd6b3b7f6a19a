#include "platform/libusb/libusb_backend.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "platform/libusb/libusb_control_transfer.h"

namespace bayercam {
namespace {

// How long the close waits for cancelled transfers to come back before it gives up on them.
constexpr auto kDrainBound = std::chrono::seconds(2);
constexpr uint8_t kNoEndpoint = 0xFF;

size_t EndpointIndex(uint8_t endpoint) {
    return (endpoint & 0x0F) | ((endpoint & 0x80) ? 16 : 0);
}

USBD_STATUS UsbdStatusFromError(int error) {
    switch (error) {
        case LIBUSB_SUCCESS:
            return USBD_STATUS_SUCCESS;
        case LIBUSB_ERROR_PIPE:
            return USBD_STATUS_STALL_PID;
        case LIBUSB_ERROR_NO_DEVICE:
            return USBD_STATUS_DEVICE_GONE;
        case LIBUSB_ERROR_TIMEOUT:
            return USBD_STATUS_DEV_NOT_RESPONDING;
        case LIBUSB_ERROR_BUSY:
            return USBD_STATUS_ERROR_BUSY;
        case LIBUSB_ERROR_INVALID_PARAM:
        case LIBUSB_ERROR_NOT_FOUND:
            return USBD_STATUS_INVALID_PARAMETER;
        case LIBUSB_ERROR_OVERFLOW:
            return USBD_STATUS_BABBLE_DETECTED;
        default:
            return USBD_STATUS_REQUEST_FAILED;
    }
}

USBD_STATUS UsbdStatusFromTransfer(libusb_transfer_status status) {
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED:
            return USBD_STATUS_SUCCESS;
        case LIBUSB_TRANSFER_STALL:
            return USBD_STATUS_STALL_PID;
        case LIBUSB_TRANSFER_CANCELLED:
            return USBD_STATUS_CANCELED;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return USBD_STATUS_DEVICE_GONE;
        case LIBUSB_TRANSFER_OVERFLOW:
            return USBD_STATUS_BABBLE_DETECTED;
        case LIBUSB_TRANSFER_TIMED_OUT:
        case LIBUSB_TRANSFER_ERROR:
            return USBD_STATUS_DEV_NOT_RESPONDING;
    }
    return USBD_STATUS_REQUEST_FAILED;
}

}  // namespace

LibusbBackend::LibusbBackend(std::shared_ptr<LibusbContext> context, libusb_device_handle* handle)
    : context_(std::move(context)), handle_(handle), device_(libusb_get_device(handle)) {
    std::fill(std::begin(endpointTypes_), std::end(endpointTypes_), kNoEndpoint);
    libusb_device_descriptor descriptor;
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) &&
        libusb_get_device_descriptor(device_, &descriptor) == LIBUSB_SUCCESS) {
        hotplugRegistered_ =
            libusb_hotplug_register_callback(context_->get(), LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                                             LIBUSB_HOTPLUG_NO_FLAGS, descriptor.idVendor,
                                             descriptor.idProduct, LIBUSB_HOTPLUG_MATCH_ANY,
                                             OnHotplug, this, &hotplug_) == LIBUSB_SUCCESS;
    }
}

LibusbBackend::~LibusbBackend() {
    {
        std::unique_lock<std::mutex> guard(lock_);
        closing_ = true;
        CancelInFlight();
        drained_.wait_for(guard, kDrainBound, [this] { return inFlight_.empty(); });
    }
    if (hotplugRegistered_) libusb_hotplug_deregister_callback(context_->get(), hotplug_);
    {
        std::lock_guard<std::mutex> config(configLock_);
        ReleaseFirstInterface();
    }
    // Once the handle is closed libusb never calls back for its transfers, so whatever is still
    // in flight now (a device that ignores cancellation) can be completed here, exactly once.
    libusb_close(handle_);
    std::unordered_map<libusb_transfer*, UsbTransfer*> orphans;
    {
        std::lock_guard<std::mutex> guard(lock_);
        orphans.swap(inFlight_);
    }
    CompleteOrphans(orphans);
}

void LibusbBackend::CancelInFlight() {
    for (auto& [usbTransfer, transfer] : inFlight_) libusb_cancel_transfer(usbTransfer);
}

void LibusbBackend::CompleteOrphans(std::unordered_map<libusb_transfer*, UsbTransfer*>& orphans) {
    for (auto& [usbTransfer, transfer] : orphans) {
        libusb_free_transfer(usbTransfer);
        transfer->actualLength = 0;
        transfer->status = gone_.load() ? USBD_STATUS_DEVICE_GONE : USBD_STATUS_CANCELED;
        transfer->complete(transfer);
    }
}

int LibusbBackend::NoteGone(int result) {
    if (result == LIBUSB_ERROR_NO_DEVICE) gone_.store(true);
    return result;
}

USBD_STATUS LibusbBackend::ControlTransfer(const USB_SETUP_PACKET& setup, uint8_t* data,
                                           uint32_t* transferred) {
    if (transferred) *transferred = 0;
    if (gone_.load()) return USBD_STATUS_DEVICE_GONE;
    if (setup.wLength != 0 && !data) return USBD_STATUS_INVALID_PARAMETER;
    int result = LibusbControlTransfer(handle_, setup, data, kStandardRequestTimeoutMs);
    if (result < 0) return UsbdStatusFromError(NoteGone(result));
    if (transferred) *transferred = static_cast<uint32_t>(result);
    return USBD_STATUS_SUCCESS;
}

USBD_STATUS LibusbBackend::SetConfiguration(uint8_t value) {
    if (gone_.load()) return USBD_STATUS_DEVICE_GONE;
    std::lock_guard<std::mutex> config(configLock_);
    // Linux refuses to change the configuration while any interface is claimed, ours included.
    ReleaseFirstInterface();
    {
        std::lock_guard<std::mutex> guard(lock_);
        std::fill(std::begin(endpointTypes_), std::end(endpointTypes_), kNoEndpoint);
    }
    // -1, not 0, unconfigures: Linux takes 0 for a configuration that carries that number.
    int result = libusb_set_configuration(handle_, value == 0 ? -1 : value);
    if (result == LIBUSB_ERROR_BUSY && value != 0) {
        // Another interface of the device has a kernel driver; that is no obstacle when the
        // configuration asked for is already the current one.
        int current = 0;
        if (libusb_get_configuration(handle_, &current) == LIBUSB_SUCCESS && current == value)
            result = LIBUSB_SUCCESS;
    }
    if (result != LIBUSB_SUCCESS || value == 0) return UsbdStatusFromError(NoteGone(result));
    USBD_STATUS status = ClaimFirstInterface();
    if (USBD_SUCCESS(status) && !LoadEndpointTypes()) status = USBD_STATUS_REQUEST_FAILED;
    return status;
}

USBD_STATUS LibusbBackend::ClaimFirstInterface() {
    int result = libusb_claim_interface(handle_, 0);
    claimed_ = result == LIBUSB_SUCCESS;
    return UsbdStatusFromError(NoteGone(result));
}

void LibusbBackend::ReleaseFirstInterface() {
    if (!claimed_) return;
    libusb_release_interface(handle_, 0);
    claimed_ = false;
}

bool LibusbBackend::LoadEndpointTypes() {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device_, &config) != LIBUSB_SUCCESS) return false;
    std::lock_guard<std::mutex> guard(lock_);
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        if (interface.num_altsetting == 0 || interface.altsetting[0].bInterfaceNumber != 0)
            continue;
        const libusb_interface_descriptor& setting = interface.altsetting[0];
        for (int e = 0; e < setting.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
            uint8_t type = endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
            if (type == LIBUSB_TRANSFER_TYPE_BULK || type == LIBUSB_TRANSFER_TYPE_INTERRUPT)
                endpointTypes_[EndpointIndex(endpoint.bEndpointAddress)] = type;
        }
    }
    libusb_free_config_descriptor(config);
    return true;
}

USBD_STATUS LibusbBackend::Submit(UsbTransfer* transfer) {
    if (!transfer || !transfer->complete || (transfer->length != 0 && !transfer->buffer) ||
        transfer->length > INT_MAX)
        return USBD_STATUS_INVALID_PARAMETER;
    if (gone_.load()) return USBD_STATUS_DEVICE_GONE;
    std::lock_guard<std::mutex> guard(lock_);
    if (closing_) return USBD_STATUS_REQUEST_FAILED;
    uint8_t type = endpointTypes_[EndpointIndex(transfer->endpoint)];
    if (type == kNoEndpoint) return USBD_STATUS_INVALID_PARAMETER;
    libusb_transfer* usbTransfer = libusb_alloc_transfer(0);
    if (!usbTransfer) return USBD_STATUS_REQUEST_FAILED;
    usbTransfer->dev_handle = handle_;
    usbTransfer->endpoint = transfer->endpoint;
    usbTransfer->type = type;
    usbTransfer->timeout = 0;  // the driver bounds its own waits and cancels
    usbTransfer->buffer = transfer->buffer;
    usbTransfer->length = static_cast<int>(transfer->length);
    usbTransfer->callback = OnTransferDone;
    usbTransfer->user_data = this;
    transfer->actualLength = 0;
    transfer->backendContext = usbTransfer;
    // Listed before submission: the completion may be reaped on the event thread at once, and
    // it waits for this lock.
    inFlight_.emplace(usbTransfer, transfer);
    int result = libusb_submit_transfer(usbTransfer);
    if (result != LIBUSB_SUCCESS) {
        inFlight_.erase(usbTransfer);
        libusb_free_transfer(usbTransfer);
        return UsbdStatusFromError(NoteGone(result));
    }
    return USBD_STATUS_SUCCESS;
}

void LIBUSB_CALL LibusbBackend::OnTransferDone(libusb_transfer* usbTransfer) {
    auto* self = static_cast<LibusbBackend*>(usbTransfer->user_data);
    UsbTransfer* transfer;
    {
        std::lock_guard<std::mutex> guard(self->lock_);
        auto found = self->inFlight_.find(usbTransfer);
        if (found == self->inFlight_.end()) return;
        transfer = found->second;
        self->inFlight_.erase(found);
        if (usbTransfer->status == LIBUSB_TRANSFER_NO_DEVICE) self->gone_.store(true);
        // Under the lock: the close may be waiting for this and goes on to free the backend.
        self->drained_.notify_all();
    }
    transfer->actualLength = static_cast<uint32_t>(usbTransfer->actual_length);
    transfer->status = UsbdStatusFromTransfer(usbTransfer->status);
    libusb_free_transfer(usbTransfer);
    transfer->complete(transfer);
}

void LibusbBackend::Cancel(UsbTransfer* transfer) {
    std::lock_guard<std::mutex> guard(lock_);
    // A transfer leaves the list, under this lock, before its libusb transfer is freed, so one
    // found here is still alive; libusb itself completes a transfer only once, cancelled or not.
    auto found = inFlight_.find(static_cast<libusb_transfer*>(transfer->backendContext));
    if (found != inFlight_.end() && found->second == transfer) libusb_cancel_transfer(found->first);
}

void LibusbBackend::AbortEndpoint(uint8_t endpoint) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& [usbTransfer, transfer] : inFlight_)
        if (transfer->endpoint == endpoint) libusb_cancel_transfer(usbTransfer);
}

USBD_STATUS LibusbBackend::ClearHalt(uint8_t endpoint) {
    if (gone_.load()) return USBD_STATUS_DEVICE_GONE;
    return UsbdStatusFromError(NoteGone(libusb_clear_halt(handle_, endpoint)));
}

uint32_t LibusbBackend::PortStatus() {
    return gone_.load() ? 0 : USBD_PORT_CONNECTED | USBD_PORT_ENABLED;
}

NTSTATUS LibusbBackend::ResetPort() {
    if (gone_.load()) return STATUS_DEVICE_NOT_CONNECTED;
    std::lock_guard<std::mutex> config(configLock_);
    {
        // The reset ends every transfer in flight; cancelled first, they say so instead of
        // reporting an empty success.
        std::lock_guard<std::mutex> guard(lock_);
        CancelInFlight();
    }
    int result = libusb_reset_device(handle_);
    // libusb claims the interfaces again after the reset; claiming ours confirms it.
    if (result == LIBUSB_SUCCESS && claimed_) result = libusb_claim_interface(handle_, 0);
    // NOT_FOUND: the device came back as a different one, so this handle is finished with it.
    if (result == LIBUSB_ERROR_NO_DEVICE || result == LIBUSB_ERROR_NOT_FOUND) {
        gone_.store(true);
        return STATUS_DEVICE_NOT_CONNECTED;
    }
    return result == LIBUSB_SUCCESS ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

int LIBUSB_CALL LibusbBackend::OnHotplug(libusb_context*, libusb_device* device,
                                         libusb_hotplug_event, void* self) {
    auto* backend = static_cast<LibusbBackend*>(self);
    if (device == backend->device_) backend->gone_.store(true);
    return 0;
}

}  // namespace bayercam
