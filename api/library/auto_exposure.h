// Automatic exposure and gain above the driver: from each delivered frame's luminance, steer
// Exposure and then GlobalGain through the property interface toward a mid-grey image.
#pragma once

#include <cstdint>

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
    // Looks at a delivered frame. `framesRead` is the stream's count of raw frames read so far
    // (the frame numbers' counter). A change shows in frames read from framesRead + 2 on, since
    // the frame being read may have begun before it; until one of those arrives nothing more is
    // changed. A frame's number is the count when its conversion ended, not when it was read, so
    // the first frame numbered framesRead + 2 or more may still be an older one that waited
    // for, or sat in, the conversion: it is passed over too.
    void Observe(const bayercam_frame& frame, const client::Filter& filter, uint64_t framesRead);

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
    uint64_t settledFrom_ = 0;  // the first frame number that may show the last change
    bool passOver_ = false;     // the next frame numbered settledFrom_ or more is passed over
    bool settled_ = false;
    // The light (exposure x gain factor) and mean luminance of the last frame looked at; a
    // light of 0 when that frame tells nothing (none yet, or clipped).
    double lastLight_ = 0;
    double lastMean_ = 0;
};

}  // namespace bayercam::library
