// Turning the region of interest of one raw frame into an RGB32 image: the one conversion step
// shared by the live stream and the offline tools, so both give the same bytes.
#pragma once

#include <cstdint>

namespace bayercam {

struct ImageProcessor;
struct ImageDestination;

// Byte offset of the region's first pixel in a raw frame.
uint32_t RoiStart(int32_t rawOffset, int32_t rawStride, int32_t roiX, int32_t roiY);

// Converts the processor's width x height pixels at raw + start, lines `stride` apart, into the
// processor's output buffer: colour when its colorEnable is exactly 1, grey otherwise.
void ConvertRegion(ImageProcessor* processor, const uint8_t* raw, uint32_t start, uint32_t stride);
// The same into `destination`; false, with nothing written there, when it cannot take the image.
bool ConvertRegionInto(ImageProcessor* processor, const uint8_t* raw, uint32_t start,
                       uint32_t stride, const ImageDestination& destination);

}  // namespace bayercam
