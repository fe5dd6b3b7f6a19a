// The acceptance rules of the frame-read time-out. Each device keeps its own `timeout` setting;
// the driver-wide wait time (usb/frame_timeout.h) bounds every frame read. An accepted change
// writes both; a refused one changes nothing.
#pragma once

#include <cstdint>

namespace bayercam {

struct CameraDevice;

// The property rule: a value above 500 is accepted, compared unsigned, so a negative value counts
// as very large. Returns whether it was accepted.
bool SetFrameTimeout(CameraDevice* device, uint32_t value);
// The settings-load rule: only 501..9999 is accepted.
bool LoadFrameTimeout(CameraDevice* device, uint32_t value);

}  // namespace bayercam
