#include "props/image_settings.h"

#include <algorithm>
#include <mutex>

#include "camera/camera_controls.h"
#include "core/camera_device.h"
#include "imaging/image_processor.h"

namespace bayercam {
namespace {

// Hands the value to the processor; null for a control the processor does not hold.
using ApplyFn = void (*)(ImageProcessor* processor, int32_t value);

ApplyFn ApplyOf(ImageSetting setting) {
    switch (setting) {
        case Control::ColorEnable:
            return &SetColorEnable;
        case Control::RedGain:
            return &SetRedGain;
        case Control::GreenGain:
            return &SetGreenGain;
        case Control::BlueGain:
            return &SetBlueGain;
        case Control::ColorCorrection:
            return &UpdateColorCorrection;
        case Control::Brightness:
            return &UpdateBrightness;
        case Control::Contrast:
            return &UpdateContrast;
        case Control::Saturation:
            return &UpdateSaturation;
        case Control::Hue:
            return &UpdateHue;
        default:
            return nullptr;
    }
}

}  // namespace

void StoreImageSetting(CameraDevice* device, ImageSetting setting, int32_t value) {
    // The camera operation switches white balance, keeping the gains it found.
    if (setting == Control::WhiteBalance) {
        SetWhiteBalance(device, value);
        return;
    }
    ApplyFn apply = ApplyOf(setting);
    if (!apply) return;
    const ControlInfo& info = Info(setting);
    value = std::clamp(value, info.minimum, info.maximum);
    std::lock_guard guard(device->settingsLock);
    StoreControl(device, setting, value);
    if (ImageProcessor* processor = device->imageProcessor.load()) apply(processor, value);
}

int32_t RefreshImageSetting(CameraDevice* device, ImageSetting setting) {
    std::lock_guard guard(device->settingsLock);
    ImageProcessor* processor = device->imageProcessor.load();
    if (std::atomic<int32_t>* current = processor ? ProcessorSetting(processor, setting) : nullptr)
        StoreControl(device, setting, current->load());
    return ReadControl(device, setting);
}

}  // namespace bayercam
