#include "settings/settings_store.h"

#include <algorithm>
#include <array>
#include <mutex>

#include "camera/camera_controls.h"
#include "camera/camera_geometry.h"
#include "camera/frame_timeout.h"
#include "core/camera_device.h"
#include "platform/registry/registry.h"
#include "props/image_settings.h"
#include "settings/settings_key.h"
#include "settings/settings_values.h"

namespace bayercam {
namespace {

// The device's driver key and its "Settings" group, both open or neither.
class SettingsKeys {
  public:
    explicit SettingsKeys(DEVICE_OBJECT* physicalDevice) {
        if (!NT_SUCCESS(IoOpenDeviceRegistryKey(physicalDevice, PLUGPLAY_REGKEY_DRIVER,
                                                READ_CONTROL, &driver_)) ||
            !driver_) {
            driver_ = nullptr;
            return;
        }
        if (!NT_SUCCESS(OpenSettingsKey(driver_, &settings_)) || !settings_) {
            settings_ = nullptr;
            ZwClose(driver_);
            driver_ = nullptr;
        }
    }
    ~SettingsKeys() { Close(); }
    SettingsKeys(const SettingsKeys&) = delete;
    SettingsKeys& operator=(const SettingsKeys&) = delete;

    bool IsOpen() const { return settings_ != nullptr; }
    HANDLE Settings() const { return settings_; }
    // Closes both keys; false when the settings group could not write what was set through it.
    bool Close() {
        bool written = true;
        if (settings_) written = NT_SUCCESS(ZwClose(settings_));
        if (driver_) ZwClose(driver_);
        settings_ = driver_ = nullptr;
        return written;
    }

  private:
    HANDLE driver_ = nullptr;
    HANDLE settings_ = nullptr;
};

// Each value missing from the store keeps what `values` holds.
void ReadSettingValues(const SettingsKeys& keys, SettingArray* values) {
    for (size_t i = 0; i < kSettingCount; ++i)
        QueryDwordSetting(keys.Settings(), kSettingValues[i].name, &(*values)[i]);
}

// An unsigned bound: a negative value counts as very large.
int32_t UnsignedBelowOr(int32_t value, int32_t limit, int32_t otherwise) {
    return static_cast<uint32_t>(value) < static_cast<uint32_t>(limit) ? value : otherwise;
}
int32_t UnsignedAtMost(int32_t value, int32_t limit) {
    return static_cast<uint32_t>(value) > static_cast<uint32_t>(limit) ? limit : value;
}

}  // namespace

void ApplyStreamSettings(CameraDevice* device, const SettingArray& v) {
    StoreImageSetting(device, ImageSetting::ColorEnable, v[kSettingColorEnable]);
    StoreImageSetting(device, ImageSetting::WhiteBalance, v[kSettingWhiteBalance]);
    StoreImageSetting(device, ImageSetting::ColorCorrection, v[kSettingColorCorrection]);
    StoreImageSetting(device, ImageSetting::Brightness, v[kSettingBrightness]);
    StoreImageSetting(device, ImageSetting::Contrast, v[kSettingContrast]);
    StoreImageSetting(device, ImageSetting::Saturation, v[kSettingSaturation]);
    StoreImageSetting(device, ImageSetting::Hue, v[kSettingHue]);
    StoreImageSetting(device, ImageSetting::RedGain, v[kSettingRedGain]);
    StoreImageSetting(device, ImageSetting::GreenGain, v[kSettingGreenGain]);
    StoreImageSetting(device, ImageSetting::BlueGain, v[kSettingBlueGain]);
    device->flipH.store(v[kSettingFlipH]);
    device->flipV.store(v[kSettingFlipV]);
    SetGeometry(device, UnsignedBelowOr(v[kSettingRoiX], kSensorWidth, 0),
                UnsignedBelowOr(v[kSettingRoiY], kSensorHeight, 0),
                UnsignedAtMost(v[kSettingRoiW], kSensorWidth),
                UnsignedAtMost(v[kSettingRoiH], kSensorHeight));
}

SettingArray DefaultSettings() {
    SettingArray values;
    for (size_t i = 0; i < kSettingCount; ++i) values[i] = kSettingValues[i].defaultValue;
    return values;
}

bool ReadSavedSettings(DEVICE_OBJECT* physicalDevice, SettingArray* values) {
    SettingsKeys keys(physicalDevice);
    if (!keys.IsOpen()) return false;
    ReadSettingValues(keys, values);
    return true;
}

bool LoadSettings(CameraDevice* device) {
    SettingsKeys keys(device->usb.physicalDevice);
    if (!keys.IsOpen()) return false;
    SettingArray values = DefaultSettings();
    values[kSettingClock] = ReadClock(device);
    ReadSettingValues(keys, &values);
    // A reload while a stream is open reaches its processor; the pin frees it only under this lock.
    std::lock_guard guard(device->settingsLock);
    LoadFrameTimeout(device, static_cast<uint32_t>(values[kSettingTimeout]));
    SetExposure(device, static_cast<uint32_t>(values[kSettingExposure]));
    // A camera that refuses the gain now must not cost the saved gain at the next save.
    const auto gain = static_cast<uint32_t>(values[kSettingGlobalGain]);
    if (!SetGlobalGain(device, gain)) device->globalGain.store(std::min(gain, kMaxGlobalGain));
    // "AGC", "AEC", "Clock", "ExTrigger" and "SubSample" are read but not applied: the clock in
    // effect is the one the camera reports.
    ApplyStreamSettings(device, values);
    return true;
}

bool SaveSettings(CameraDevice* device) {
    SettingsKeys keys(device->usb.physicalDevice);
    if (!keys.IsOpen()) return false;
    const SettingArray values = {
        device->timeout.load(),
        device->exposure.load(),
        static_cast<int32_t>(device->globalGain.load()),
        device->flipH.load(),
        device->flipV.load(),
        device->colorEnable.load(),
        device->whiteBalance.load(),
        device->colorCorrection.load(),
        device->brightness.load(),
        device->contrast.load(),
        device->saturation.load(),
        device->hue.load(),
        device->redGain.load(),
        device->greenGain.load(),
        device->blueGain.load(),
        device->agc.load(),
        device->aec.load(),
        device->clock.load(),
        device->exTrigger.load(),
        device->subSample.load(),
        device->roiX.load(),
        device->roiY.load(),
        device->roiW.load(),
        device->roiH.load(),
    };
    for (size_t i = 0; i < kSettingCount; ++i)
        StoreDwordSetting(keys.Settings(), kSettingValues[i].name, values[i]);
    // The group writes its values when it closes; a lost write must not read as saved.
    return keys.Close();
}

}  // namespace bayercam
