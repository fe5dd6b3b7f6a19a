// A recorded raw frame, delivered as it is in every frame whatever the sensor settings.
#pragma once

#include <vector>

#include "simcam/scene.h"

namespace bayercam::sim {

class FileScene : public Scene {
  public:
    // `frame` holds kFrameBytes bytes.
    explicit FileScene(std::vector<uint8_t> frame);
    void Render(const SensorSettings& sensor, uint64_t frame, uint8_t* out) override;

  private:
    std::vector<uint8_t> frame_;
};

}  // namespace bayercam::sim
