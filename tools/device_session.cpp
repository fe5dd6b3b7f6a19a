#include "tools/device_session.h"

#include "core/device_lifecycle.h"
#include "platform/ks_device.h"
#include "simcam/image_stream.h"
#include "simcam/sim_camera.h"

namespace bayercam::tool {
namespace {

// Every session sees the same chart, so runs can be compared.
constexpr uint64_t kSimSceneSeed = 1;

}  // namespace

std::unique_ptr<DeviceSession> DeviceSession::Open(const GlobalOptions& global,
                                                   std::string* error) {
    if (!global.sim) {
        *error =
            "no camera backend for real hardware is available; use --sim for the "
            "simulated camera";
        return nullptr;
    }
    std::unique_ptr<sim::Scene> scene = sim::MakeScene(global.simScene, kSimSceneSeed, error);
    if (!scene) return nullptr;
    std::unique_ptr<DeviceSession> session(new DeviceSession);
    auto simulated = std::make_unique<sim::SimCamera>();
    // The camera reports its clock selection in logic register 15.
    if (global.simClock) simulated->SetLogicRegister(15, static_cast<uint8_t>(*global.simClock));
    session->imageStream_ =
        std::make_unique<sim::SimImageStream>(*simulated, std::move(scene), global.simFps);
    session->simulated_ = simulated.get();
    session->backend_ = std::move(simulated);
    session->bus_ = std::make_unique<UsbBus>(*session->backend_);

    NTSTATUS status = DriverEntry(&session->driver_, "bayercam");
    if (NT_SUCCESS(status)) {
        status =
            KsPnpAddDevice(&session->driver_, session->bus_->PhysicalDevice(), &session->device_);
    }
    if (!NT_SUCCESS(status)) {
        *error = std::string("the device could not be added: ") + NtStatusName(status);
        return nullptr;
    }
    session->startStatus_ = KsPnpStartDevice(session->device_);
    return session;
}

DeviceSession::~DeviceSession() {
    if (device_) KsPnpRemoveDevice(device_);
    bus_.reset();
    imageStream_.reset();
    backend_.reset();
}

}  // namespace bayercam::tool
