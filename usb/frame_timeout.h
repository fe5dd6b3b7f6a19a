// The driver-wide frame time-out: one value for every device, bounding each frame read.
#pragma once

#include <cstdint>

namespace bayercam {

constexpr int32_t kDefaultFrameTimeoutMs = 3000;

// Milliseconds a frame read waits for its chunk requests before it cancels them.
int32_t GetFrameTimeoutMs();
void SetFrameTimeoutMs(int32_t milliseconds);

}  // namespace bayercam
