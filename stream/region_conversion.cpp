#include "stream/region_conversion.h"

#include "imaging/image_processor.h"

namespace bayercam {

uint32_t RoiStart(int32_t rawOffset, int32_t rawStride, int32_t roiX, int32_t roiY) {
    // The camera's raw geometry is small and fixed; unsigned arithmetic keeps odd values defined.
    return static_cast<uint32_t>(rawOffset) +
           static_cast<uint32_t>(roiY) * static_cast<uint32_t>(rawStride) +
           static_cast<uint32_t>(roiX);
}

void ConvertRegion(ImageProcessor* processor, const uint8_t* raw, uint32_t start, uint32_t stride) {
    if (processor->colorEnable.load() == 1) {
        ConvertColorFrame(processor, raw, start, stride);
    } else {
        ConvertGrayFrame(processor, raw, start, stride);
    }
}

bool ConvertRegionInto(ImageProcessor* processor, const uint8_t* raw, uint32_t start,
                       uint32_t stride, const ImageDestination& destination) {
    if (processor->colorEnable.load() == 1) {
        return ConvertColorFrameInto(processor, raw, start, stride, destination);
    }
    return ConvertGrayFrameInto(processor, raw, start, stride, destination);
}

}  // namespace bayercam
