// The camera the global options choose, in the library's terms.
#pragma once

#include <string>

#include "api/library/camera_session.h"
#include "api/library/selector.h"
#include "tools/command.h"

namespace bayercam::tool {

// --sim (with its --sim-* options) or the real camera --usb and --usb-path name. False with
// `*error` set when neither or both are given, or a real camera's options are malformed.
bool ChooseCamera(const GlobalOptions& global, library::CameraChoice* choice, std::string* error);

// The settings folder and the USB trace the options ask for.
library::SessionOptions SessionOptionsOf(const GlobalOptions& global);

// The settings folder of the camera the options choose, without taking the camera: the simulated
// camera's when no real camera is named. False with `*error` set as library::FindSettingsInstance.
bool FindSettingsInstance(const GlobalOptions& global, std::string* instance, std::string* error);

}  // namespace bayercam::tool
