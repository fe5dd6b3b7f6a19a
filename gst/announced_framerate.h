// The frame rate the element announces in its caps for a camera selector.
#pragma once

#include <string>

namespace bayercam::gst {

struct Framerate {
    int numerator;
    int denominator;
};

// 30/1, the camera's nominal rate; the simulated camera's "fps=F" option changes it (0: as fast
// as possible, announced as the variable rate 0/1).
Framerate AnnouncedFramerate(const std::string& selector);

}  // namespace bayercam::gst
