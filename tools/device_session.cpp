#include "tools/device_session.h"

#include "simcam/sim_camera.h"

namespace bayercam::tool {

std::unique_ptr<DeviceSession> DeviceSession::Open(const GlobalOptions& global,
                                                   std::string* error) {
    if (!global.sim) {
        *error =
            "no camera backend for real hardware is available; use --sim for the "
            "simulated camera";
        return nullptr;
    }
    std::unique_ptr<DeviceSession> session(new DeviceSession);
    auto simulated = std::make_unique<sim::SimCamera>();
    // The camera reports its clock selection in logic register 15.
    if (global.simClock) simulated->SetLogicRegister(15, static_cast<uint8_t>(*global.simClock));
    session->simulated_ = simulated.get();

    client::Status status = client::Camera::Open(std::move(simulated), &session->camera_);
    if (!status.ok()) {
        *error = status.message;
        return nullptr;
    }
    return session;
}

}  // namespace bayercam::tool
