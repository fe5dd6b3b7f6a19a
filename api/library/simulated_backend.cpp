#include "api/library/simulated_backend.h"

namespace bayercam::library {
namespace {

// Every session sees the same chart, so runs can be compared.
constexpr uint64_t kSceneSeed = 1;

}  // namespace

std::unique_ptr<SimulatedBackend> SimulatedBackend::Make(const std::string& scene,
                                                         double framesPerSecond,
                                                         sim::SimCameraOptions options,
                                                         std::string* error) {
    std::unique_ptr<sim::Scene> made = sim::MakeScene(scene, kSceneSeed, error);
    if (!made) return nullptr;
    std::unique_ptr<SimulatedBackend> backend(new SimulatedBackend);
    backend->camera_ = std::make_unique<sim::SimCamera>(std::move(options));
    backend->images_ =
        std::make_unique<sim::SimImageStream>(*backend->camera_, std::move(made), framesPerSecond);
    return backend;
}

SimulatedBackend::~SimulatedBackend() {
    images_.reset();
    camera_.reset();
}

USBD_STATUS SimulatedBackend::ControlTransfer(const USB_SETUP_PACKET& setup, uint8_t* data,
                                              uint32_t* transferred) {
    return camera_->ControlTransfer(setup, data, transferred);
}

USBD_STATUS SimulatedBackend::SetConfiguration(uint8_t value) {
    return camera_->SetConfiguration(value);
}

USBD_STATUS SimulatedBackend::Submit(UsbTransfer* transfer) {
    return camera_->Submit(transfer);
}

void SimulatedBackend::Cancel(UsbTransfer* transfer) {
    camera_->Cancel(transfer);
}

void SimulatedBackend::AbortEndpoint(uint8_t endpoint) {
    camera_->AbortEndpoint(endpoint);
}

USBD_STATUS SimulatedBackend::ClearHalt(uint8_t endpoint) {
    return camera_->ClearHalt(endpoint);
}

uint32_t SimulatedBackend::PortStatus() {
    return camera_->PortStatus();
}

NTSTATUS SimulatedBackend::ResetPort() {
    return camera_->ResetPort();
}

}  // namespace bayercam::library
