// The capture filter that the device's filter factory creates.
#pragma once

#include "platform/ks.h"

namespace bayercam {

extern const KSFILTER_DESCRIPTOR CaptureFilterDescriptor;

}  // namespace bayercam
