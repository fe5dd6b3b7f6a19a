#include "camera/camera_geometry.h"

#include <algorithm>

#include "core/camera_device.h"
#include "stream/capture_descriptors.h"
#include "stream/video_data_range.h"

namespace bayercam {
namespace {

// The largest even origin that still leaves an 8-pixel region inside the sensor.
constexpr int32_t kMaxRoiX = kSensorWidth - 8;
constexpr int32_t kMaxRoiY = kSensorHeight - 8;

// Odd values are raised to the next even one, negative values too (-3 becomes -2); then the
// origin is bounded to the sensor.
int32_t AlignOrigin(int32_t value, int32_t limit) {
    int64_t even = (value & 1) ? int64_t{value} + 1 : value;
    return static_cast<int32_t>(std::clamp<int64_t>(even, 0, limit));
}

int32_t LimitExtent(int32_t extent, int32_t origin, int32_t sensor) {
    if (extent <= 0 || extent > sensor) extent = sensor;
    return origin + extent > sensor ? sensor - origin : extent;
}

void RewriteDataRange(KS_DATARANGE_VIDEO& range, int32_t width, int32_t height) {
    uint32_t pixels = static_cast<uint32_t>(width) * static_cast<uint32_t>(height);
    range.DataRange.SampleSize = pixels * 4;
    KS_VIDEO_STREAM_CONFIG_CAPS& caps = range.ConfigCaps;
    caps.InputSize = caps.MinCroppingSize = caps.MaxCroppingSize = {width, height};
    caps.MinOutputSize = caps.MaxOutputSize = {width, height};
    caps.MinFrameInterval = caps.MaxFrameInterval = kFrameInterval;
    caps.MinBitsPerSecond = caps.MaxBitsPerSecond = static_cast<int32_t>(pixels * 960);
    KS_VIDEOINFOHEADER& header = range.VideoInfoHeader;
    header.rcSource.right = width;
    header.rcSource.bottom = height;
    header.dwBitRate = pixels * 120;
    header.AvgTimePerFrame = kFrameInterval;
    header.bmiHeader.biWidth = width;
    header.bmiHeader.biHeight = height;
    header.bmiHeader.biSizeImage = pixels * 4;
}

}  // namespace

void SetGeometry(CameraDevice* device, int32_t x, int32_t y, int32_t width, int32_t height) {
    if (device->geometryLocked.load() != 0) return;
    x = AlignOrigin(x, kMaxRoiX);
    y = AlignOrigin(y, kMaxRoiY);
    width = LimitExtent(width, x, kSensorWidth);
    height = LimitExtent(height, y, kSensorHeight);

    device->subSample.store(0);
    device->readoutX.store(0);
    device->readoutY.store(0);
    device->readoutWidth.store(kSensorWidth);
    device->readoutHeight.store(kSensorHeight);
    device->roiX.store(x);
    device->roiY.store(y);
    device->roiW.store(width);
    device->roiH.store(height);
    device->outputHeight.store(height);
    device->outputWidth.store(width / 8 * 8);
    if (device->captureDescriptors)
        RewriteDataRange(device->captureDescriptors->videoDataRange, width / 8 * 8, height);
}

}  // namespace bayercam
