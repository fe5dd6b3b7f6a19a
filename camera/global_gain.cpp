#include <algorithm>
#include <mutex>

#include "camera/camera_controls.h"
#include "camera/register_access.h"
#include "core/camera_device.h"

namespace bayercam {

bool SetGlobalGain(CameraDevice* device, uint32_t value) {
    std::lock_guard guard(device->commandLock);
    uint32_t gain = std::min(value, kMaxGlobalGain);
    // Both halves always go out, so the camera never keeps half of an old gain unnoticed.
    bool low = WriteSensorRegister(device, kGainLowRegister, static_cast<int32_t>(gain & 63));
    bool high =
        WriteSensorRegister(device, kGainHighRegister, static_cast<int32_t>((gain >> 6) & 15));
    if (!low || !high) return false;
    device->globalGain.store(gain);
    return true;
}

}  // namespace bayercam
