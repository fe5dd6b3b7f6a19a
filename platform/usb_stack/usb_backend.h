// The seam below the USB stack stand-in: a USB device as the host controller sees it. The
// simulated camera and the libusb backend both implement it; the driver cannot tell which.
#pragma once

#include <cstdint>

#include "platform/kernel/ntstatus.h"
#include "platform/usb_stack/usb.h"

namespace bayercam {

// One bulk or interrupt transfer in flight.
struct UsbTransfer {
    uint8_t endpoint;  // endpoint address; bit 7 set = device-to-host
    uint8_t* buffer;
    uint32_t length;        // bytes asked for
    uint32_t actualLength;  // bytes moved, set at completion
    USBD_STATUS status;     // set at completion: success, USBD_STATUS_CANCELED, ...
    // Runs once per accepted transfer, on the backend's own thread, or inside Submit for a
    // backend that answers at once (the bus takes either).
    void (*complete)(UsbTransfer* transfer);
    void* context;         // the submitter's
    void* backendContext;  // the backend's
};

class UsbBackend {
  public:
    virtual ~UsbBackend() = default;

    // A standard control request on endpoint 0, synchronous. `data` holds wLength bytes.
    virtual USBD_STATUS ControlTransfer(const USB_SETUP_PACKET& setup, uint8_t* data,
                                        uint32_t* transferred) = 0;
    // Makes configuration `value` current and claims its first interface; 0 unconfigures.
    virtual USBD_STATUS SetConfiguration(uint8_t value) = 0;
    // Queues a transfer. On success `complete` will run exactly once; on failure it never runs.
    virtual USBD_STATUS Submit(UsbTransfer* transfer) = 0;
    // Cancels a queued transfer: it completes with USBD_STATUS_CANCELED unless already done.
    virtual void Cancel(UsbTransfer* transfer) = 0;
    // Cancels every queued transfer of the endpoint.
    virtual void AbortEndpoint(uint8_t endpoint) = 0;
    // Clears a halt on the endpoint (CLEAR_FEATURE ENDPOINT_HALT) and resets its host side.
    virtual USBD_STATUS ClearHalt(uint8_t endpoint) = 0;
    // USBD_PORT_ENABLED and USBD_PORT_CONNECTED bits.
    virtual uint32_t PortStatus() = 0;
    virtual NTSTATUS ResetPort() = 0;
};

}  // namespace bayercam
