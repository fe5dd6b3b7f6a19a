// The camera-side controls: exposure, global gain, clock selection and the white-balance switch.
// Values are clamped to their ranges, never refused. Each control holds `commandLock` across all
// the register writes it sends, so two controls never mix their writes on the wire.
#pragma once

#include <cstdint>

#include "core/control_table.h"

namespace bayercam {

struct CameraDevice;

constexpr uint32_t kMinExposure = Info(Control::Exposure).minimum;
constexpr uint32_t kMaxExposure = Info(Control::Exposure).maximum;
// Exposures above this use the sensor's long-exposure mode.
constexpr int32_t kLongExposureAbove = 1068;
constexpr uint32_t kMaxGlobalGain = Info(Control::GlobalGain).maximum;
constexpr int32_t kMaxClockSelection = Info(Control::Clock).maximum;

// Sensor registers of the controls; logic register 15 holds the clock selection.
constexpr uint32_t kGainLowRegister = 6;
constexpr uint32_t kGainHighRegister = 7;
constexpr uint32_t kClockSensorRegister = 32;
constexpr uint32_t kClockLogicRegister = 15;

// Clamps to 8..1074 (as unsigned: a negative request becomes 1074), switches the sensor between
// its short and long exposure modes when the value crosses 1068, writes the exposure and stores
// it. Write failures are not reported: always true.
bool SetExposure(CameraDevice* device, uint32_t value);
// Clamps to 0..1023 and writes it; `globalGain` changes only when both writes succeeded.
bool SetGlobalGain(CameraDevice* device, uint32_t value);
// Selects the camera clock (outside 0..5 becomes 0; 2 is written as 3) and programs the capture
// settings again. Nothing changes when the camera refuses the selection.
void SetClock(CameraDevice* device, int32_t value);
// Reads the camera's clock selection into `clock` (3 is kept as 2) and returns `clock`, which is
// left as it was when the read fails.
int32_t ReadClock(CameraDevice* device);
// Switches automatic white balance; switching it off keeps the gains it found as manual gains.
void SetWhiteBalance(CameraDevice* device, int32_t value);

}  // namespace bayercam
