#include "offline_conversion.h"

#include <cstring>
#include <mutex>

#include "camera/camera_geometry.h"
#include "core/camera_device.h"
#include "core/control_table.h"
#include "imaging/image_processor.h"
#include "platform/kernel/pool.h"
#include "props/image_settings.h"
#include "settings/settings_store.h"
#include "stream/frame_copy.h"
#include "stream/region_conversion.h"

namespace bayercam::python {
namespace {

// Applies one named setting as its property request would, where it changes the pipeline's
// output: the image-processor controls clamped, the flips as given. The other settings act on the
// sensor or the transfer, whose effect the raw frame already holds.
bool ApplySetting(CameraDevice* device, const std::string& name, int32_t value,
                  std::string* error) {
    for (const ControlInfo& info : kControls) {
        if (!info.name || name != info.name) continue;
        if (info.target == ControlTarget::Geometry) {
            *error = name + ": give the region as region=(x, y, w, h)";
            return false;
        }
        if (info.target == ControlTarget::ImageProcessor)
            StoreImageSetting(device, info.control, value);
        else if (info.control == Control::FlipH || info.control == Control::FlipV)
            StoreControl(device, info.control, value);
        return true;
    }
    *error = "no setting named '" + name + "'";
    return false;
}

// The region converted as the stream converts it, copied out top row first: the client frame's
// row order (bottom-up unless flipped vertically) turned over in the same copy.
OfflineImage ConvertRegionTopDown(CameraDevice* device, const uint8_t* raw, int64_t stride,
                                  std::string* error) {
    OfflineImage result;
    const int32_t width = device->roiW.load();
    const int32_t height = device->roiH.load();
    result.width = device->outputWidth.load();
    result.height = device->outputHeight.load();
    if (result.width <= 0) {
        *error = "the region is narrower than 8 pixels";
        return {};
    }
    ImageProcessor* processor = CreateImageProcessor(device);
    if (processor) {
        SetFrameSize(processor, uint32_t(width), uint32_t(height));
        AllocateWorkBuffer(processor);
    }
    if (!processor || !processor->workBuffer) {
        FreeImageProcessor(processor);
        *error = "out of memory";
        return {};
    }
    std::vector<uint8_t> image(size_t(width) * height * 4);
    processor->outputBuffer = image.data();
    ConvertRegion(processor, raw,
                  RoiStart(0, int32_t(stride), device->roiX.load(), device->roiY.load()),
                  uint32_t(stride));
    FreeImageProcessor(processor);

    const FrameCopy copy{width,
                         height,
                         result.width,
                         result.height,
                         FramePitch(0, result.width),
                         ReadFlipH(device) != 0,
                         ReadFlipV(device) == 0};
    result.bgra.resize(size_t(copy.pitch) * result.height);
    CopyImageToFrame(copy, image.data(), result.bgra.data(), uint32_t(result.bgra.size()));
    return result;
}

}  // namespace

OfflineImage ConvertOffline(const uint8_t* raw, int64_t stride,
                            const std::vector<std::pair<std::string, int32_t>>& settings,
                            const std::optional<Region>& region, std::string* error) {
    // The geometry writes driver state that is shared within this module; one conversion at a
    // time keeps two threads from seeing each other's region.
    static std::mutex conversionLock;
    std::lock_guard<std::mutex> hold(conversionLock);

    CameraDevice* device = PoolNew<CameraDevice>();
    if (!device) {
        *error = "out of memory";
        return {};
    }
    device->defaultPipelineMode = 2;
    RefreshPipelineMode(device);
    ApplyStreamSettings(device, DefaultSettings());
    OfflineImage result;
    bool applied = true;
    for (const auto& [name, value] : settings)
        if (!(applied = ApplySetting(device, name, value, error))) break;
    if (applied) {
        if (region) SetGeometry(device, region->x, region->y, region->width, region->height);
        result = ConvertRegionTopDown(device, raw, stride, error);
    }
    PoolDelete(device);
    return result;
}

}  // namespace bayercam::python
