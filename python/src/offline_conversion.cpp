#include "offline_conversion.h"

#include <cstring>
#include <mutex>

#include "camera/camera_geometry.h"
#include "core/camera_device.h"
#include "imaging/image_processor.h"
#include "platform/kernel/pool.h"
#include "props/control_property_set.h"
#include "props/image_settings.h"
#include "settings/settings_store.h"
#include "stream/frame_copy.h"
#include "stream/region_conversion.h"

namespace bayercam::python {
namespace {

// The controls that change the pipeline's output, by property name.
struct PipelineControl {
    const char* name;
    std::optional<ImageSetting> setting;
    AtomicInt32 CameraDevice::*flip;
};

constexpr PipelineControl kPipelineControls[] = {
    {"ColorEnable", ImageSetting::ColorEnable, nullptr},
    {"WhiteBalance", ImageSetting::WhiteBalance, nullptr},
    {"RedGain", ImageSetting::RedGain, nullptr},
    {"GreenGain", ImageSetting::GreenGain, nullptr},
    {"BlueGain", ImageSetting::BlueGain, nullptr},
    {"ColorCorrection", ImageSetting::ColorCorrection, nullptr},
    {"Brightness", ImageSetting::Brightness, nullptr},
    {"Contrast", ImageSetting::Contrast, nullptr},
    {"Saturation", ImageSetting::Saturation, nullptr},
    {"Hue", ImageSetting::Hue, nullptr},
    {"FlipH", std::nullopt, &CameraDevice::flipH},
    {"FlipV", std::nullopt, &CameraDevice::flipV},
};

const PipelineControl* FindPipelineControl(const std::string& name) {
    for (const PipelineControl& control : kPipelineControls)
        if (name == control.name) return &control;
    return nullptr;
}

bool IsControlName(const std::string& name) {
    for (const ControlProperty& property : kControlProperties)
        if (property.name && name == property.name) return true;
    return false;
}

// Applies one named setting, clamped as the property request clamps it.
bool ApplySetting(CameraDevice* device, const std::string& name, int32_t value,
                  std::string* error) {
    const PipelineControl* control = FindPipelineControl(name);
    if (!control) {
        if (IsControlName(name)) return true;  // a sensor control: already in the raw frame
        *error = "no control named '" + name + "'";
        return false;
    }
    if (control->setting)
        StoreImageSetting(device, *control->setting, value);
    else
        (device->*control->flip).store(value);
    return true;
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
