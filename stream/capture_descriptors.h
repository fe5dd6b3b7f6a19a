// A device's own copy of the capture filter's descriptors: its pin offers the device's own video
// data range, which the device's geometry rewrites, so that cameras of one process never see
// one another's region.
#pragma once

#include "platform/ks/ks.h"
#include "platform/ks/ks_types.h"

namespace bayercam {

struct CaptureDescriptors {
    KS_DATARANGE_VIDEO videoDataRange;
    const KSDATARANGE* dataRanges[1];
    KSPIN_DESCRIPTOR_EX pin;
    KSFILTER_DESCRIPTOR filter;
};

// The filter and pin descriptors as loaded, pointing at a range of their own. Null when out of
// memory.
CaptureDescriptors* CreateCaptureDescriptors();
void FreeCaptureDescriptors(CaptureDescriptors* descriptors);

}  // namespace bayercam
