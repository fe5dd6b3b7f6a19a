// The device's settings, kept across sessions in its settings store.
#pragma once

#include <array>
#include <cstdint>

#include "settings/settings_values.h"

namespace bayercam {

struct CameraDevice;
struct DEVICE_OBJECT;

// The defaults of the control table (the clock's stands in until the camera is asked).
SettingArray DefaultSettings();
// Applies what the image pipeline and the pin use, in load order: the colour and image settings
// (clamped, and to an open stream's processor), the flips and the region of interest. Sends
// nothing to the camera.
void ApplyStreamSettings(CameraDevice* device, const SettingArray& values);
// Reads the saved values of the device instance bound to `physicalDevice` without applying them;
// a missing value keeps what `values` holds. False when the store cannot be opened.
bool ReadSavedSettings(DEVICE_OBJECT* physicalDevice, SettingArray* values);

// Reads the 24 saved values (a missing one takes its default; the clock's is the camera's own
// selection) and applies them, clamped, to the camera, the device and an open stream. False,
// with nothing applied, when the store cannot be opened.
bool LoadSettings(CameraDevice* device);
// Writes the device's current settings. False when the store cannot be opened or the values
// could not be written.
bool SaveSettings(CameraDevice* device);

}  // namespace bayercam
