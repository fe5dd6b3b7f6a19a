// The region of interest and the output frame size it implies.
#pragma once

#include <cstdint>

namespace bayercam {

struct CameraDevice;

// Aligns and bounds the region to the sensor, stores it with the output size and rewrites the
// video data range. Does nothing while a pin holds the geometry.
void SetGeometry(CameraDevice* device, int32_t x, int32_t y, int32_t width, int32_t height);

}  // namespace bayercam
