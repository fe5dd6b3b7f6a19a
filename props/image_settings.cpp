#include "props/image_settings.h"

#include <algorithm>
#include <climits>
#include <mutex>

#include "camera/camera_controls.h"
#include "core/camera_device.h"
#include "imaging/image_processor.h"

namespace bayercam {
namespace {

struct ImageSettingRecord {
    AtomicInt32 CameraDevice::*member;
    std::atomic<int32_t> ImageProcessor::*current;
    int32_t minimum;
    int32_t maximum;
    // Hands the value to the processor; null where a camera operation does it.
    void (*apply)(ImageProcessor* processor, int32_t value);
};

// In the order of ImageSetting.
constexpr ImageSettingRecord kImageSettings[] = {
    {&CameraDevice::colorEnable, &ImageProcessor::colorEnable, INT32_MIN, INT32_MAX,
     &SetColorEnable},
    {&CameraDevice::whiteBalance, &ImageProcessor::whiteBalance, INT32_MIN, INT32_MAX, nullptr},
    {&CameraDevice::redGain, &ImageProcessor::redGain, kMinColorGain, kMaxColorGain, &SetRedGain},
    {&CameraDevice::greenGain, &ImageProcessor::greenGain, kMinColorGain, kMaxColorGain,
     &SetGreenGain},
    {&CameraDevice::blueGain, &ImageProcessor::blueGain, kMinColorGain, kMaxColorGain,
     &SetBlueGain},
    {&CameraDevice::colorCorrection, &ImageProcessor::colorCorrection, INT32_MIN, INT32_MAX,
     &UpdateColorCorrection},
    {&CameraDevice::brightness, &ImageProcessor::brightness, 0, kMaxBrightness, &UpdateBrightness},
    {&CameraDevice::contrast, &ImageProcessor::contrast, 0, kMaxLevel, &UpdateContrast},
    {&CameraDevice::saturation, &ImageProcessor::saturation, 0, kMaxLevel, &UpdateSaturation},
    {&CameraDevice::hue, &ImageProcessor::hue, 0, kMaxHue, &UpdateHue},
};

const ImageSettingRecord& Record(ImageSetting setting) {
    return kImageSettings[static_cast<int>(setting)];
}

}  // namespace

void StoreImageSetting(CameraDevice* device, ImageSetting setting, int32_t value) {
    const ImageSettingRecord& record = Record(setting);
    if (!record.apply) {
        SetWhiteBalance(device, value);
        return;
    }
    value = std::clamp(value, record.minimum, record.maximum);
    std::lock_guard guard(device->settingsLock);
    (device->*record.member).store(value);
    if (ImageProcessor* processor = device->imageProcessor.load()) record.apply(processor, value);
}

int32_t RefreshImageSetting(CameraDevice* device, ImageSetting setting) {
    const ImageSettingRecord& record = Record(setting);
    std::lock_guard guard(device->settingsLock);
    if (ImageProcessor* processor = device->imageProcessor.load())
        (device->*record.member).store((processor->*record.current).load());
    return (device->*record.member).load();
}

}  // namespace bayercam
