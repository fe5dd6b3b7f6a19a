#include "stream/capture_descriptors.h"

#include "platform/kernel/pool.h"
#include "stream/capture_filter.h"
#include "stream/capture_pin.h"
#include "stream/video_data_range.h"

namespace bayercam {

CaptureDescriptors* CreateCaptureDescriptors() {
    auto* descriptors = PoolNew<CaptureDescriptors>();
    if (!descriptors) return nullptr;
    descriptors->videoDataRange = VideoDataRange;
    descriptors->dataRanges[0] = &descriptors->videoDataRange.DataRange;
    descriptors->pin = CapturePinDescriptor;
    descriptors->pin.PinDescriptor.DataRanges = descriptors->dataRanges;
    descriptors->filter = CaptureFilterDescriptor;
    descriptors->filter.PinDescriptors = &descriptors->pin;
    return descriptors;
}

void FreeCaptureDescriptors(CaptureDescriptors* descriptors) {
    PoolDelete(descriptors);
}

}  // namespace bayercam
