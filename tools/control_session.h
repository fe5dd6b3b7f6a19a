// The camera the global options choose, started, with its capture filter open: what the property
// and stream commands work on.
#pragma once

#include <memory>
#include <string>

#include "api/library/application_camera.h"
#include "tools/command.h"

namespace bayercam::tool {

class ControlSession {
  public:
    // Null with `*error` set when the camera cannot be opened or started.
    static std::unique_ptr<ControlSession> Open(const GlobalOptions& global, std::string* error);
    // Closes the camera; what failed in closing fails the command after its output.
    ~ControlSession();
    ControlSession(const ControlSession&) = delete;
    ControlSession& operator=(const ControlSession&) = delete;

    const client::Filter& Filter() const { return camera_->Filter(); }
    library::CameraSession& Device() { return camera_->Session(); }

  private:
    ControlSession() = default;
    std::unique_ptr<library::ApplicationCamera> camera_;
};

}  // namespace bayercam::tool
