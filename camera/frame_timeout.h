// The frame-read time-out: each device keeps its own `timeout` setting, and one driver-wide wait
// time, shared by all devices, bounds every raw-frame read. An accepted change writes both.
#pragma once

#include <cstdint>

namespace bayercam {

struct CameraDevice;

constexpr uint32_t kDefaultFrameTimeoutMs = 3000;

// The driver-wide wait time in milliseconds (initially 3000), read atomically.
uint32_t FrameWaitTime();
// The property rule: a value above 500 is accepted, compared unsigned, so a negative value counts
// as very large. Returns whether it was accepted; a refused value changes nothing.
bool SetFrameTimeout(CameraDevice* device, uint32_t value);
// The settings-load rule: only 501..9999 is accepted.
bool LoadFrameTimeout(CameraDevice* device, uint32_t value);

}  // namespace bayercam
