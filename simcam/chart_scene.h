// A colour test chart in front of the simulated sensor: 24 colour and grey patches over a grey
// ramp, seen through colour filters of unequal sensitivity, with a bright marker that moves from
// frame to frame. The chart's mosaic is computed once, and seen through the sensor's response
// again only when that changes: a frame costs a copy and the marker.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "simcam/scene.h"

namespace bayercam::sim {

// Relative sensitivity of the red, green and blue sites: unequal, as on a real sensor, so that
// an unbalanced picture comes out until white balance corrects it.
constexpr double kRedSensitivity = 0.62;
constexpr double kGreenSensitivity = 1.0;
constexpr double kBlueSensitivity = 0.78;

// Rows of the neutral ramp below the patches: grey from black on the left to white on the right.
constexpr uint32_t kRampTop = 930;
constexpr uint32_t kRampBottom = 1000;

class ChartScene : public Scene {
  public:
    // `seed` fixes the fine grain of the chart and the marker's starting point.
    explicit ChartScene(uint64_t seed);
    void Render(const SensorSettings& sensor, uint64_t frame, uint8_t* out) override;

  private:
    static constexpr uint32_t kMarkerSize = 48;

    std::vector<uint8_t> mosaic_;  // signal of every pixel of the still chart
    std::vector<uint8_t> seen_;    // mosaic_ through `seenResponse_`
    std::optional<ResponseLut> seenResponse_;
    std::array<uint8_t, 4> markerSignal_{};  // by mosaic site: R, G (red row), G (blue row), B
    uint64_t markerStartX_;
    uint64_t markerStartY_;
};

}  // namespace bayercam::sim
