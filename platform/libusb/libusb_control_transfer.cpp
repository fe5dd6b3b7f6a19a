#include "platform/libusb/libusb_control_transfer.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace bayercam {
namespace {

struct Completion {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
};

void LIBUSB_CALL OnControlDone(libusb_transfer* transfer) {
    auto* completion = static_cast<Completion*>(transfer->user_data);
    std::lock_guard<std::mutex> guard(completion->lock);
    completion->finished = true;
    // Under the lock: the waiter frees everything as soon as it sees `finished`.
    completion->done.notify_all();
}

int ErrorFromStatus(libusb_transfer_status status) {
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED:
            return LIBUSB_SUCCESS;
        case LIBUSB_TRANSFER_STALL:
            return LIBUSB_ERROR_PIPE;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return LIBUSB_ERROR_NO_DEVICE;
        case LIBUSB_TRANSFER_TIMED_OUT:
            return LIBUSB_ERROR_TIMEOUT;
        case LIBUSB_TRANSFER_OVERFLOW:
            return LIBUSB_ERROR_OVERFLOW;
        case LIBUSB_TRANSFER_CANCELLED:
            return LIBUSB_ERROR_INTERRUPTED;
        case LIBUSB_TRANSFER_ERROR:
            break;
    }
    return LIBUSB_ERROR_IO;
}

}  // namespace

int LibusbControlTransfer(libusb_device_handle* handle, const USB_SETUP_PACKET& setup,
                          uint8_t* data, unsigned timeoutMs) {
    const bool in = (setup.bmRequestType & LIBUSB_ENDPOINT_IN) != 0;
    std::vector<uint8_t> buffer(LIBUSB_CONTROL_SETUP_SIZE + setup.wLength);
    libusb_fill_control_setup(buffer.data(), setup.bmRequestType, setup.bRequest, setup.wValue,
                              setup.wIndex, setup.wLength);
    if (!in && setup.wLength != 0)
        std::memcpy(buffer.data() + LIBUSB_CONTROL_SETUP_SIZE, data, setup.wLength);
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    if (!transfer) return LIBUSB_ERROR_NO_MEM;
    Completion completion;
    libusb_fill_control_transfer(transfer, handle, buffer.data(), OnControlDone, &completion,
                                 timeoutMs);
    int result = libusb_submit_transfer(transfer);
    if (result == LIBUSB_SUCCESS) {
        std::unique_lock<std::mutex> guard(completion.lock);
        completion.done.wait(guard, [&] { return completion.finished; });
        result = ErrorFromStatus(transfer->status);
        if (result == LIBUSB_SUCCESS) {
            result = transfer->actual_length;
            if (in && result > 0)
                std::memcpy(data, buffer.data() + LIBUSB_CONTROL_SETUP_SIZE, result);
        }
    }
    libusb_free_transfer(transfer);
    return result;
}

std::string LibusbStringDescriptor(libusb_device_handle* handle, uint8_t index) {
    if (index == 0) return "";
    uint8_t text[255];
    // String 0 lists the languages; the first one is the device's own.
    int length = LibusbControlTransfer(
        handle, {LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR, LIBUSB_DT_STRING << 8, 0, 4},
        text, kStandardRequestTimeoutMs);
    if (length < 4 || text[1] != LIBUSB_DT_STRING) return "";
    const uint16_t language = text[2] | text[3] << 8;
    length = LibusbControlTransfer(
        handle,
        {LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
         static_cast<uint16_t>(LIBUSB_DT_STRING << 8 | index), language, sizeof text},
        text, kStandardRequestTimeoutMs);
    if (length < 2 || text[1] != LIBUSB_DT_STRING) return "";
    std::string ascii;
    for (int i = 2; i + 1 < length && i + 1 < text[0]; i += 2)
        ascii += text[i + 1] == 0 && text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return ascii;
}

}  // namespace bayercam
