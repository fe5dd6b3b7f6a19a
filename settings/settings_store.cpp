#include "settings/settings_store.h"

#include <algorithm>
#include <array>
#include <mutex>

#include "camera/camera_controls.h"
#include "camera/camera_geometry.h"
#include "camera/frame_timeout.h"
#include "core/camera_device.h"
#include "core/control_table.h"
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
    for (const ControlInfo& info : kControls)
        QueryDwordSetting(keys.Settings(), info.savedName, &(*values)[info.control]);
}

// A saved side of the region outside its range, compared unsigned (so a negative one counts as
// very large), loads the side's default.
int32_t LoadedSide(const SettingArray& values, Control side) {
    const ControlInfo& info = Info(side);
    const auto value = static_cast<uint32_t>(values[side]);
    bool inRange = value >= static_cast<uint32_t>(info.minimum) &&
                   value <= static_cast<uint32_t>(info.maximum);
    return inRange ? values[side] : info.defaultValue;
}

}  // namespace

void ApplyStreamSettings(CameraDevice* device, const SettingArray& values) {
    for (const ControlInfo& info : kControls) {
        if (info.target == ControlTarget::ImageProcessor)
            StoreImageSetting(device, info.control, values[info.control]);
    }
    device->flipH.store(values[Control::FlipH]);
    device->flipV.store(values[Control::FlipV]);
    SetGeometry(device, LoadedSide(values, Control::RoiX), LoadedSide(values, Control::RoiY),
                LoadedSide(values, Control::RoiW), LoadedSide(values, Control::RoiH));
}

SettingArray DefaultSettings() {
    SettingArray values;
    for (const ControlInfo& info : kControls) values[info.control] = info.defaultValue;
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
    values[Control::Clock] = ReadClock(device);
    ReadSettingValues(keys, &values);
    // A reload while a stream is open reaches its processor; the pin frees it only under this lock.
    std::lock_guard guard(device->settingsLock);
    LoadFrameTimeout(device, static_cast<uint32_t>(values[Control::Timeout]));
    SetExposure(device, static_cast<uint32_t>(values[Control::Exposure]));
    // A camera that refuses the gain now must not cost the saved gain at the next save.
    const auto gain = static_cast<uint32_t>(values[Control::GlobalGain]);
    if (!SetGlobalGain(device, gain)) device->globalGain.store(std::min(gain, kMaxGlobalGain));
    // "AGC", "AEC", "Clock", "ExTrigger" and "SubSample" are read but not applied: the clock in
    // effect is the one the camera reports.
    ApplyStreamSettings(device, values);
    return true;
}

bool SaveSettings(CameraDevice* device) {
    SettingsKeys keys(device->usb.physicalDevice);
    if (!keys.IsOpen()) return false;
    for (const ControlInfo& info : kControls)
        StoreDwordSetting(keys.Settings(), info.savedName, ReadControl(device, info.control));
    // The group writes its values when it closes; a lost write must not read as saved.
    return keys.Close();
}

}  // namespace bayercam
