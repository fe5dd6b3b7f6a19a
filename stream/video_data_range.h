// The driver's video data range as loaded: RGB32 frames of the full sensor. Each device offers its
// own copy (stream/capture_descriptors.h), whose size fields its geometry rewrites whenever the
// region of interest changes and no pin exists.
#pragma once

#include "platform/ks/ks_types.h"

namespace bayercam {

constexpr int64_t kFrameInterval = 333333;  // 100-ns units

extern const KS_DATARANGE_VIDEO VideoDataRange;

}  // namespace bayercam
