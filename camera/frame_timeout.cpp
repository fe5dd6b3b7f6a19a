#include "camera/frame_timeout.h"

#include "core/camera_device.h"
#include "core/control_table.h"
#include "usb/frame_timeout.h"

namespace bayercam {
namespace {

constexpr uint32_t kMinAcceptedTimeoutMs = Info(Control::Timeout).minimum;
// The property set takes longer time-outs too; only a load keeps within the maximum.
constexpr uint32_t kMaxLoadedTimeoutMs = Info(Control::Timeout).maximum;

void ApplyFrameTimeout(CameraDevice* device, uint32_t value) {
    device->timeout.store(static_cast<int32_t>(value));
    SetFrameTimeoutMs(value);
}

}  // namespace

bool SetFrameTimeout(CameraDevice* device, uint32_t value) {
    if (value < kMinAcceptedTimeoutMs) return false;
    ApplyFrameTimeout(device, value);
    return true;
}

bool LoadFrameTimeout(CameraDevice* device, uint32_t value) {
    if (value < kMinAcceptedTimeoutMs || value > kMaxLoadedTimeoutMs) return false;
    ApplyFrameTimeout(device, value);
    return true;
}

}  // namespace bayercam
