#include <algorithm>
#include <mutex>

#include "camera/camera_controls.h"
#include "camera/register_access.h"
#include "core/camera_device.h"

namespace bayercam {
namespace {

struct RegisterWrite {
    uint32_t address;
    int32_t value;
};

// The sensor's mode switches, written only when the exposure crosses between the modes.
constexpr RegisterWrite kToLongMode[] = {{154, 1}, {157, 0}, {158, 7}, {159, 0},
                                         {160, 1}, {161, 7}, {162, 0}, {163, 1}};
constexpr RegisterWrite kToShortMode[] = {{154, 0}, {155, 7}, {157, 1}, {160, 1}, {163, 0}};

constexpr uint32_t kLongExposureRegister = 155;
// Register 155 counts the long exposure from this value: 1069 is 2, 1074 is 7.
constexpr int32_t kLongExposureBase = 1067;

template <size_t N>
void WriteAll(CameraDevice* device, const RegisterWrite (&writes)[N]) {
    for (const RegisterWrite& write : writes)
        WriteSensorRegister(device, write.address, write.value);
}

}  // namespace

bool SetExposure(CameraDevice* device, uint32_t value) {
    std::lock_guard guard(device->commandLock);
    int32_t exposure = static_cast<int32_t>(std::clamp(value, kMinExposure, kMaxExposure));
    bool wasLong = device->exposure.load() > kLongExposureAbove;
    if (exposure > kLongExposureAbove) {
        if (!wasLong) WriteAll(device, kToLongMode);
        WriteSensorRegister(device, kLongExposureRegister, exposure - kLongExposureBase);
    } else {
        if (wasLong) WriteAll(device, kToShortMode);
        int32_t low = exposure & 63, high = (exposure >> 6) & 63;
        const RegisterWrite shortExposure[] = {{158, low}, {159, high}, {161, low}, {162, high}};
        WriteAll(device, shortExposure);
    }
    device->exposure.store(exposure);
    return true;
}

}  // namespace bayercam
