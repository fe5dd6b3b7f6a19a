// The controls the camera offers through the application interface.
#pragma once

#include <bayercam/bayercam.h>

#include <vector>

#include "web/control_api.h"

namespace bayercam::web {

// Every control the application interface names, and the region as a control of four values.
std::vector<ControlInfo> ListControls(bayercam_camera* camera);

}  // namespace bayercam::web
