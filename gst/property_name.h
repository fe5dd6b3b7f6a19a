// Element property names from the camera's control names.
#pragma once

#include <string>

namespace bayercam::gst {

// "GlobalGain" -> "global-gain", "FlipH" -> "flip-h", "AGC" -> "agc": lower case, a dash where a
// new word starts (a capital after a small letter or digit, or the last capital of a run that a
// small letter follows).
std::string PropertyNameOf(const std::string& controlName);

}  // namespace bayercam::gst
