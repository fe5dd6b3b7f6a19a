#include "simcam/sensor_model.h"

#include <algorithm>
#include <cmath>

#include "simcam/sim_camera.h"

namespace bayercam::sim {

SensorSettings ReadSensorSettings(const SimCamera& camera) {
    SensorSettings settings{};
    if (camera.SensorRegister(154) == 1) {
        settings.exposure = 1067 + camera.SensorRegister(155);
    } else {
        settings.exposure = camera.SensorRegister(158) + 64 * camera.SensorRegister(159);
    }
    settings.gain = camera.SensorRegister(6) + 64 * camera.SensorRegister(7);
    return settings;
}

ResponseLut BuildResponseLut(const SensorSettings& settings) {
    double exposure = std::max(settings.exposure, kMinimumExposure);
    double factor = exposure / kReferenceExposure * (1.0 + settings.gain / 64.0);
    ResponseLut lut;
    for (int signal = 0; signal < 256; ++signal) {
        lut[signal] = static_cast<uint8_t>(std::min(255.0, std::round(signal * factor)));
    }
    return lut;
}

}  // namespace bayercam::sim
