// The image settings that live both in the device and, while a stream is open, in its
// ImageProcessor (the controls whose target is ControlTarget::ImageProcessor). Property requests
// and the settings load change them through here, so an open stream sees a change in its next
// frame.
#pragma once

#include <cstdint>

#include "core/control_table.h"

namespace bayercam {

struct CameraDevice;

// One of the image-processor controls.
using ImageSetting = Control;

// Clamps the value to the setting's range (signed), stores it in the device and hands it to the
// open stream's processor: the gains and the colour switch as they are, the matrix settings with
// their recompute when the value differs. White balance goes through SetWhiteBalance. Takes
// `settingsLock`, under which the pin frees the processor.
void StoreImageSetting(CameraDevice* device, ImageSetting setting, int32_t value);

// Copies the open stream's current value (the automatic white balance changes the gains) into the
// device, then returns the device's value.
int32_t RefreshImageSetting(CameraDevice* device, ImageSetting setting);

}  // namespace bayercam
