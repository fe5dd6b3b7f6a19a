#include "camera/initialize_camera.h"

#include <mutex>
#include <span>

#include "camera/camera_controls.h"
#include "camera/register_access.h"
#include "camera/startup_sequence_tables.h"
#include "core/camera_device.h"
#include "platform/kernel/sync.h"
#include "settings/settings_store.h"
#include "usb/packet_transfer.h"

namespace bayercam {
namespace {

constexpr uint32_t kPulseRegister = 6;
constexpr int64_t kPulsePause = -8000;  // 0.8 ms, relative, in 100-ns units

std::span<const SensorRegisterValue> ClockTail(int32_t selection) {
    switch (selection) {
        case 1:
            return kClockTail1;
        case 2:
            return kClockTail2;
        default:
            return kClockTailOther;
    }
}

}  // namespace

bool InitializeCamera(CameraDevice* device) {
    {
        std::lock_guard guard(device->commandLock);
        uint8_t startup[kPacketBytes] = {kStartupCommand};
        SendCommand(device, startup);
        SensorSetupSequence(device);
    }
    // Outside the command lock: the settings load takes the settings lock, which property
    // requests take before the command lock.
    LoadSettings(device);
    return true;
}

bool SensorSetupSequence(CameraDevice* device) {
    std::lock_guard guard(device->commandLock);
    // The second half of the pulse only makes sense when the camera took the first.
    if (WriteLogicRegister(device, kPulseRegister, 0x11)) {
        WriteLogicRegister(device, kPulseRegister, 0x00);
    }
    KeDelayExecutionThread(kPulsePause);
    for (const SensorRegisterRun& run : kSensorSetupRuns) {
        uint32_t address = run.first;
        for (int32_t value : run.values) WriteSensorRegister(device, address++, value);
    }
    for (const SensorRegisterValue& write : ClockTail(ReadClock(device))) {
        WriteSensorRegister(device, write.address, write.value);
    }
    return true;
}

}  // namespace bayercam
