// A real camera through libusb-1.0: the UsbBackend that the USB stack stand-in drives when the
// tool is given --usb or --usb-path.
#pragma once

#include <libusb.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/libusb/libusb_context.h"
#include "platform/usb_stack/usb_backend.h"

namespace bayercam {

class LibusbBackend final : public UsbBackend {
  public:
    // Takes over `handle`, an open handle of a device in `context`.
    LibusbBackend(std::shared_ptr<LibusbContext> context, libusb_device_handle* handle);
    // Cancels what is still in flight and waits for it (bounded), releases the interface and
    // closes the device. Every accepted transfer has completed when this returns.
    ~LibusbBackend() override;
    LibusbBackend(const LibusbBackend&) = delete;
    LibusbBackend& operator=(const LibusbBackend&) = delete;

    USBD_STATUS ControlTransfer(const USB_SETUP_PACKET& setup, uint8_t* data,
                                uint32_t* transferred) override;
    USBD_STATUS SetConfiguration(uint8_t value) override;
    USBD_STATUS Submit(UsbTransfer* transfer) override;
    void Cancel(UsbTransfer* transfer) override;
    void AbortEndpoint(uint8_t endpoint) override;
    USBD_STATUS ClearHalt(uint8_t endpoint) override;
    uint32_t PortStatus() override;
    NTSTATUS ResetPort() override;

  private:
    static void LIBUSB_CALL OnTransferDone(libusb_transfer* usbTransfer);
    static int LIBUSB_CALL OnHotplug(libusb_context* context, libusb_device* device,
                                     libusb_hotplug_event event, void* self);
    // Notes a removal seen in a libusb result; returns `result` unchanged.
    int NoteGone(int result);
    USBD_STATUS ClaimFirstInterface();
    void ReleaseFirstInterface();
    bool LoadEndpointTypes();
    void CancelInFlight();  // lock_ held
    void CompleteOrphans(std::unordered_map<libusb_transfer*, UsbTransfer*>& orphans);

    std::shared_ptr<LibusbContext> context_;
    libusb_device_handle* handle_;
    libusb_device* device_;
    libusb_hotplug_callback_handle hotplug_ = 0;
    bool hotplugRegistered_ = false;
    std::atomic<bool> gone_{false};

    // Serialises configuration changes, resets and the close: each is a sequence of libusb calls.
    std::mutex configLock_;
    bool claimed_ = false;  // interface 0, under configLock_

    // In-flight transfers. Never held across a libusb call that waits for events: completions
    // take it on the event thread while libusb holds its own locks.
    std::mutex lock_;
    std::condition_variable drained_;
    std::unordered_map<libusb_transfer*, UsbTransfer*> inFlight_;
    bool closing_ = false;
    // libusb transfer type per endpoint of interface 0 (index: number, +16 for IN); 0xFF = none.
    uint8_t endpointTypes_[32];
};

}  // namespace bayercam
