// What the simulated camera looks at: a source of whole raw frames, one 8-bit sample per pixel in
// the sensor's RGGB mosaic.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "simcam/sensor_model.h"

namespace bayercam::sim {

constexpr uint32_t kFrameWidth = 1360;
constexpr uint32_t kFrameHeight = 1024;
constexpr uint32_t kFrameBytes = kFrameWidth * kFrameHeight;

class Scene {
  public:
    virtual ~Scene() = default;
    // Writes frame number `frame` (0 first) as the sensor sees it under `sensor` into the
    // kFrameBytes bytes at `out`. Called from one thread at a time.
    virtual void Render(const SensorSettings& sensor, uint64_t frame, uint8_t* out) = 0;
};

// The scene an option names: "chart" (a colour test chart, deterministic from `seed`) or
// "file:PATH" (a 1360 x 1024 8-bit binary PGM delivered as it is). Null with `*error` set when
// the option or the file is not usable.
std::unique_ptr<Scene> MakeScene(const std::string& option, uint64_t seed, std::string* error);

}  // namespace bayercam::sim
