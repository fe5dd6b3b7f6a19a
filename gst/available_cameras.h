// The cameras an application can choose from without naming one.
#pragma once

#include <string>
#include <vector>

namespace bayercam::gst {

// The environment variable that asks for the simulated camera where no real one is attached.
inline constexpr const char* kSimulatedCameraVariable = "BAYERCAM_SIM";

// Selectors of the attached cameras, then "sim" when kSimulatedCameraVariable is set to a
// non-empty value other than "0".
std::vector<std::string> AvailableCameras();

}  // namespace bayercam::gst
