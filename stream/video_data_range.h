// The driver's one video data range: RGB32 frames of the current output size. The geometry
// rewrites its size fields whenever the region of interest changes and no pin exists.
#pragma once

#include "platform/ks/ks_types.h"

namespace bayercam {

constexpr int64_t kFrameInterval = 333333;  // 100-ns units

extern KS_DATARANGE_VIDEO VideoDataRange;

}  // namespace bayercam
