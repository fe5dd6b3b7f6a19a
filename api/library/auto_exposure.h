// Automatic exposure and gain above the driver: from each delivered frame's luminance, steer
// Exposure and then GlobalGain through the property interface toward a mid-grey image.
#pragma once

#include <cstdint>

#include "api/library/change_watch.h"
#include "bayercam/bayercam.h"
#include "bayercam/client.h"

namespace bayercam::library {

// The mean luminance (0..255) of a BGRA frame, from every 8th pixel of every 8th row.
double MeanLuminance(const bayercam_frame& frame);

class AutoExposure {
  public:
    // The mean luminance the loop steers toward, and how far from it counts as there.
    static constexpr double kTarget = 118.0;
    static constexpr double kTolerance = 0.08;  // of the target

    void Enable(bool on);
    bool Enabled() const { return enabled_; }
    // The last frame looked at was within the tolerance of the target.
    bool Settled() const { return settled_; }
    // A new stream: nothing is known about its frames yet.
    void Restart();
    // Looks at a delivered frame; frames that cannot show the last change are passed over
    // (ChangeWatch).
    void Observe(const bayercam_frame& frame, const client::Filter& filter,
                 const FramesRead& framesRead);

  private:
    struct Limits {
        int32_t minExposure = 0, maxExposure = 0, minGain = 0, maxGain = 0;
    };
    bool ReadLimits(const client::Filter& filter);
    // How much the image's luminance grows with the light let in, in logarithms: measured
    // between the last two frames when they allow it.
    double Slope(double light, double mean, bool darker) const;

    bool enabled_ = false;
    bool limitsKnown_ = false;
    Limits limits_;
    ChangeWatch watch_;
    bool settled_ = false;
    // The light (exposure x gain factor) and mean luminance of the last frame looked at; a
    // light of 0 when that frame tells nothing (none yet, or clipped).
    double lastLight_ = 0;
    double lastMean_ = 0;
};

}  // namespace bayercam::library
