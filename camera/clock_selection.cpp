#include <mutex>

#include "camera/camera_controls.h"
#include "camera/register_access.h"
#include "core/camera_device.h"

namespace bayercam {
namespace {

// The camera reports and takes this selection for what the driver calls selection 2.
constexpr int32_t kCameraClockTwo = 3;

}  // namespace

void SetClock(CameraDevice* device, int32_t value) {
    std::lock_guard guard(device->commandLock);
    WriteSensorRegister(device, kClockSensorRegister, 0);
    if (value < 0 || value > kMaxClockSelection) value = 0;
    if (value == 2) value = kCameraClockTwo;
    if (!WriteLogicRegister(device, kClockLogicRegister, static_cast<uint32_t>(value))) return;
    // Slot 1 of the operations table, as the stream start calls it.
    device->ops->StartCapture(device);
    device->clock.store(value);
}

int32_t ReadClock(CameraDevice* device) {
    std::lock_guard guard(device->commandLock);
    uint8_t selection;
    // A byte that is no selection is not taken either: after an answer was lost, the camera's
    // answers run one behind and the command's acknowledgement arrives in the value's place.
    if (ReadLogicRegister(device, kClockLogicRegister, &selection) &&
        selection <= kMaxClockSelection) {
        device->clock.store(selection == kCameraClockTwo ? 2 : selection);
    }
    return device->clock.load();
}

}  // namespace bayercam
