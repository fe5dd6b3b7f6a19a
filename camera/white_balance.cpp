#include <mutex>

#include "camera/camera_controls.h"
#include "core/camera_device.h"
#include "imaging/image_processor.h"

namespace bayercam {

void SetWhiteBalance(CameraDevice* device, int32_t value) {
    // The pin frees the processor under the same lock, so it stays valid while it is used here.
    std::lock_guard guard(device->settingsLock);
    device->whiteBalance.store(value);
    ImageProcessor* processor = device->imageProcessor.load();
    if (!processor) return;
    SetAutoWhiteBalance(processor, value);
    if (value != 0) return;
    device->redGain.store(processor->redGain.load());
    device->greenGain.store(processor->greenGain.load());
    device->blueGain.store(processor->blueGain.load());
}

}  // namespace bayercam
