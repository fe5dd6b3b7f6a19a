#include "tools/control_session.h"

#include "tools/camera_choice.h"
#include "tools/command_outcome.h"

namespace bayercam::tool {

std::unique_ptr<ControlSession> ControlSession::Open(const GlobalOptions& global,
                                                     std::string* error) {
    library::CameraChoice choice;
    if (!ChooseCamera(global, &choice, error)) return nullptr;
    std::unique_ptr<ControlSession> session(new ControlSession);
    if (library::ApplicationCamera::Open(choice, SessionOptionsOf(global), &session->camera_,
                                         error) != 0)
        return nullptr;
    return session;
}

ControlSession::~ControlSession() {
    std::string error;
    if (camera_ && !camera_->Close(&error)) ReportLateFailure(error);
}

}  // namespace bayercam::tool
