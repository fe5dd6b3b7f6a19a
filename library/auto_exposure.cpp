#include "library/auto_exposure.h"

#include <algorithm>
#include <cmath>

#include "library/named_controls.h"

namespace bayercam::library {
namespace {

constexpr uint32_t kSampleStep = 8;
// BT.601 luma weights in 1/256.
constexpr uint32_t kBlueWeight = 29, kGreenWeight = 150, kRedWeight = 77;
// Of each step the loop takes this share, in the logarithm: a little short, so that a response
// steeper than linear cannot make it overshoot and swing back.
constexpr double kDamping = 0.85;
// A clipped image hides how bright the scene is: step down by a fixed share.
constexpr double kClippedLuminance = 250.0;
constexpr double kClippedStep = 0.3;
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

bool AutoExposure::ReadLimits(const client::Filter& filter) {
    if (limitsKnown_) return true;
    const ControlProperty* exposure = FindNamedControl("Exposure");
    const ControlProperty* gain = FindNamedControl("GlobalGain");
    std::optional<ControlRangeIds> exposureIds = RangeIdsOf(*exposure);
    std::optional<ControlRangeIds> gainIds = RangeIdsOf(*gain);
    limitsKnown_ =
        ReadControl(filter, kControlProperties[exposureIds->minimum], &limits_.minExposure).ok() &&
        ReadControl(filter, kControlProperties[exposureIds->maximum], &limits_.maxExposure).ok() &&
        ReadControl(filter, kControlProperties[gainIds->minimum], &limits_.minGain).ok() &&
        ReadControl(filter, kControlProperties[gainIds->maximum], &limits_.maxGain).ok();
    return limitsKnown_;
}

void AutoExposure::Observe(const bayercam_frame& frame, const client::Filter& filter,
                           uint64_t framesRead) {
    if (!enabled_ || frame.sequence < settledFrom_ || !ReadLimits(filter)) return;
    const double mean = MeanLuminance(frame);
    if (std::abs(mean - kTarget) <= kTarget * kTolerance) return;

    const ControlProperty& exposureControl = *FindNamedControl("Exposure");
    const ControlProperty& gainControl = *FindNamedControl("GlobalGain");
    int32_t exposure = 0, gain = 0;
    if (!ReadControl(filter, exposureControl, &exposure).ok() ||
        !ReadControl(filter, gainControl, &gain).ok())
        return;

    double step = mean >= kClippedLuminance ? kClippedStep
                                            : std::pow(kTarget / std::max(mean, 1.0), kDamping);
    // Brighter: exposure first, then gain. Darker: gain first, then exposure, which keeps the
    // noise down.
    double newExposure = exposure, newGain = gain;
    if (step > 1) {
        newExposure = std::min<double>(limits_.maxExposure, exposure * step);
        double rest = step * exposure / newExposure;
        newGain = std::min<double>(limits_.maxGain, (GainFactor(gain) * rest - 1) * kGainUnit);
        newGain = std::max<double>(newGain, gain);
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
    settledFrom_ = framesRead + 2;
}

}  // namespace bayercam::library
