// The device's settings, kept across sessions in its settings store.
#pragma once

namespace bayercam {

struct CameraDevice;

// Applies the saved settings; true when the store could be opened.
bool LoadSettings(CameraDevice* device);
// Writes the current settings; true when the store could be opened.
bool SaveSettings(CameraDevice* device);

}  // namespace bayercam
