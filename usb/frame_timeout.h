// The driver-wide frame time-out: one value for every device, bounding each frame read.
#pragma once

#include <cstdint>

#include "core/control_table.h"

namespace bayercam {

constexpr uint32_t kDefaultFrameTimeoutMs = Info(Control::Timeout).defaultValue;

// Milliseconds a frame read waits for its chunk requests before it cancels them. Unsigned: the
// property set accepts any value above 500 compared unsigned, so a "negative" one is a very long
// wait, never a zero one.
uint32_t GetFrameTimeoutMs();
void SetFrameTimeoutMs(uint32_t milliseconds);

}  // namespace bayercam
