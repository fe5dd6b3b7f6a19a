// How the simulated sensor turns light into 8-bit samples: exposure and global gain, read from
// its own registers as the driver programs them, scale every sample.
#pragma once

#include <array>
#include <cstdint>

namespace bayercam::sim {

class SimCamera;

struct SensorSettings {
    uint32_t exposure;  // sensor units; the sensor takes at least kMinimumExposure
    uint32_t gain;      // global gain code 0..1023
};

constexpr uint32_t kMinimumExposure = 8;
// The exposure at which, with no gain, a sample equals its signal (the start-up exposure).
constexpr uint32_t kReferenceExposure = 100;

// Short mode: exposure = r158 + 64 x r159; long mode (r154 = 1): 1067 + r155.
// Gain = r6 + 64 x r7.
SensorSettings ReadSensorSettings(const SimCamera& camera);

// Sample for each signal level 0..255 under `settings`: linear in exposure and in
// (1 + gain / 64), clipped at 255.
using ResponseLut = std::array<uint8_t, 256>;
ResponseLut BuildResponseLut(const SensorSettings& settings);

}  // namespace bayercam::sim
