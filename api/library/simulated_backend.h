// The simulated camera as one USB device: the camera and the image stream attached to it, owned
// together so that the stream always goes first, whoever lets go of the device and whenever.
#pragma once

#include <memory>
#include <string>

#include "platform/usb_stack/usb_backend.h"
#include "simcam/image_stream.h"
#include "simcam/sim_camera.h"

namespace bayercam::library {

class SimulatedBackend : public UsbBackend {
  public:
    // Null with `*error` set when the scene option is not usable.
    static std::unique_ptr<SimulatedBackend> Make(const std::string& scene, double framesPerSecond,
                                                  sim::SimCameraOptions options,
                                                  std::string* error);
    ~SimulatedBackend() override;

    sim::SimCamera& Camera() { return *camera_; }
    sim::SimImageStream& Images() { return *images_; }

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
    SimulatedBackend() = default;

    std::unique_ptr<sim::SimCamera> camera_;
    std::unique_ptr<sim::SimImageStream> images_;  // attached to camera_
};

}  // namespace bayercam::library
