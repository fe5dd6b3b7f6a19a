#include "api/library/auto_exposure.h"

#include <algorithm>
#include <cmath>

#include "api/library/named_controls.h"

namespace bayercam::library {
namespace {

constexpr uint32_t kSampleStep = 8;
// BT.601 luma weights in 1/256.
constexpr uint32_t kBlueWeight = 29, kGreenWeight = 150, kRedWeight = 77;
// Of each step the loop takes this share, in the logarithm.
constexpr double kDamping = 0.9;
// The image's luminance grows at most in proportion to the light (slope 1) and, around mid-grey
// with the default tone settings, about with its square root. Measured slopes are held to that
// range, and the step assumes the steeper end on the way up and the flatter end on the way down
// until a slope is measured: a step that assumes more slope than there is falls short of the
// target instead of beyond it.
constexpr double kMinSlope = 0.5, kMaxSlope = 1.0;
// A clipped image hides how bright the scene is: step down by a fixed share. A mean this high
// leaves even the scene's dark parts near white, which takes many times the light mid-grey needs,
// so the share is large: each step costs three frames.
constexpr double kClippedLuminance = 250.0;
constexpr double kClippedStep = 0.05;
// Too dark to measure a slope from.
constexpr double kDarkLuminance = 2.0;
// Gain multiplies the signal by (1 + gain / 64).
constexpr double kGainUnit = 64.0;

double GainFactor(double gain) {
    return 1.0 + gain / kGainUnit;
}

}  // namespace

double MeanLuminance(const bayercam_frame& frame) {
    uint64_t sum = 0, count = 0;
    for (uint32_t y = kSampleStep / 2; y < frame.height; y += kSampleStep) {
        const uint8_t* row = frame.data + size_t(y) * size_t(frame.stride);
        for (uint32_t x = kSampleStep / 2; x < frame.width; x += kSampleStep) {
            const uint8_t* pixel = row + size_t(x) * 4;
            sum += (kBlueWeight * pixel[0] + kGreenWeight * pixel[1] + kRedWeight * pixel[2]) >> 8;
            ++count;
        }
    }
    return count ? double(sum) / double(count) : 0.0;
}

void AutoExposure::Enable(bool on) {
    if (on && !enabled_) Restart();
    enabled_ = on;
}

void AutoExposure::Restart() {
    watch_.Restart();
    settled_ = false;
    lastLight_ = 0;
    lastMean_ = 0;
}

bool AutoExposure::ReadLimits(const client::Filter& filter) {
    if (limitsKnown_) return true;
    std::optional<ControlRangeIds> exposure = RangeIdsOf(*FindNamedControl("Exposure"));
    std::optional<ControlRangeIds> gain = RangeIdsOf(*FindNamedControl("GlobalGain"));
    limitsKnown_ =
        exposure && gain &&
        ReadControl(filter, kControlProperties[exposure->minimum], &limits_.minExposure).ok() &&
        ReadControl(filter, kControlProperties[exposure->maximum], &limits_.maxExposure).ok() &&
        ReadControl(filter, kControlProperties[gain->minimum], &limits_.minGain).ok() &&
        ReadControl(filter, kControlProperties[gain->maximum], &limits_.maxGain).ok();
    return limitsKnown_;
}

double AutoExposure::Slope(double light, double mean, bool darker) const {
    double assumed = darker ? kMinSlope : kMaxSlope;
    if (lastLight_ <= 0 || mean < kDarkLuminance || lastMean_ < kDarkLuminance) return assumed;
    double lightChange = std::log(light / lastLight_);
    if (std::abs(lightChange) < 0.05) return assumed;
    return std::clamp(std::log(mean / lastMean_) / lightChange, kMinSlope, kMaxSlope);
}

void AutoExposure::Observe(const bayercam_frame& frame, const client::Filter& filter,
                           const FramesRead& framesRead) {
    if (!enabled_ || !watch_.Shows(frame.sequence) || !ReadLimits(filter)) return;
    const ControlProperty& exposureControl = *FindNamedControl("Exposure");
    const ControlProperty& gainControl = *FindNamedControl("GlobalGain");
    int32_t exposure = 0, gain = 0;
    if (!ReadControl(filter, exposureControl, &exposure).ok() ||
        !ReadControl(filter, gainControl, &gain).ok())
        return;

    const double mean = MeanLuminance(frame);
    const double light = exposure * GainFactor(gain);
    const bool clipped = mean >= kClippedLuminance;
    double step = kClippedStep;
    if (!clipped) {
        double slope = Slope(light, mean, mean > kTarget);
        step = std::exp(kDamping * std::log(kTarget / std::max(mean, 1.0)) / slope);
    }
    lastLight_ = clipped ? 0 : light;
    lastMean_ = mean;
    settled_ = std::abs(mean - kTarget) <= kTarget * kTolerance;
    if (settled_) return;

    // Brighter: exposure first, then gain. Darker: gain first, then exposure, which keeps the
    // noise down.
    double newExposure = exposure, newGain = gain;
    if (step > 1) {
        newExposure = std::min<double>(limits_.maxExposure, exposure * step);
        double rest = step * exposure / newExposure;
        newGain =
            std::clamp<double>((GainFactor(gain) * rest - 1) * kGainUnit, gain, limits_.maxGain);
    } else {
        double factor = std::max(GainFactor(limits_.minGain), GainFactor(gain) * step);
        newGain = (factor - 1) * kGainUnit;
        double rest = step * GainFactor(gain) / factor;
        newExposure = std::max<double>(limits_.minExposure, exposure * rest);
    }
    auto exposureSet = static_cast<int32_t>(std::lround(newExposure));
    auto gainSet = static_cast<int32_t>(std::lround(newGain));
    if (exposureSet == exposure && gainSet == gain) return;
    if (exposureSet != exposure) WriteControl(filter, exposureControl, exposureSet);
    if (gainSet != gain) WriteControl(filter, gainControl, gainSet);
    watch_.Changed(framesRead());
}

}  // namespace bayercam::library
