// Automatic white balance above the driver: from each delivered frame's greys, steer RedGain and
// BlueGain until they come out neutral. It takes the place of the device's own WhiteBalance, a
// grey-world balance that any scene whose colours do not average to grey throws off (the
// simulated chart's warm patches leave its greys short of red).
#pragma once

#include <cstdint>

#include "api/library/change_watch.h"
#include "bayercam/bayercam.h"
#include "bayercam/client.h"

namespace bayercam::library {

// The cast of a BGRA frame's greys: ln(R/G) and ln(B/G) of the most common chromaticity among
// pixels neither dark nor clipped, which on a scene with neutral parts is theirs. False when too
// few pixels tell.
bool GreyCast(const bayercam_frame& frame, double* red, double* blue);

class AutoWhiteBalance {
  public:
    // How far from neutral, in ln(R/G) and ln(B/G), counts as neutral.
    static constexpr double kTolerance = 0.03;

    void Enable(bool on);
    bool Enabled() const { return enabled_; }
    // The last frame looked at had neutral greys.
    bool Settled() const { return settled_; }
    // A new stream: nothing is known about its frames yet.
    void Restart();
    // Looks at a delivered frame, as AutoExposure::Observe does. The first frame turns the
    // device's WhiteBalance off.
    void Observe(const bayercam_frame& frame, const client::Filter& filter,
                 const FramesRead& framesRead);

  private:
    bool enabled_ = false;
    bool settled_ = false;
    bool deviceBalanceOff_ = false;
    ChangeWatch watch_;
};

}  // namespace bayercam::library
