#include <mutex>

#include "camera/camera_controls.h"
#include "core/camera_device.h"

namespace bayercam {

void SetWhiteBalance(CameraDevice* device, int32_t value) {
    // The pin frees the processor under the same lock, so it stays valid while it is used here.
    std::lock_guard guard(device->settingsLock);
    device->whiteBalance.store(value);
    ImageProcessor* processor = device->imageProcessor.load();
    if (!processor) return;
    // IMAGE PROCESSOR HOOK (the one place the switch reaches an open stream), to be filled in
    // when imaging/image_processor.h is on main:
    //   SetAutoWhiteBalance(processor, value);
    //   if (value == 0) copy processor->redGain, greenGain, blueGain (atomic loads) into the
    //   device's redGain, greenGain, blueGain, so the measured gains become the manual ones.
}

}  // namespace bayercam
