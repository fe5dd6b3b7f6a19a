// Gains from the channel sums of one frame.
#include <cstdint>
#include <limits>

#include "imaging/bayer_kernels.h"
#include "imaging/fp_strict.h"
#include "imaging/image_processor.h"

namespace bayercam {
namespace {

constexpr double kChannels = 3.0;
constexpr double kUnityGain = 128.0;

// Truncates toward zero; a ratio beyond int32 (a nearly black channel in a bright frame)
// saturates rather than overflowing the conversion.
int32_t TruncateGain(double gain) {
    if (gain >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(gain);
}

}  // namespace

void WhiteBalanceGains(uint64_t sumRed, uint64_t sumGreen, uint64_t sumBlue, int32_t* redGain,
                       int32_t* greenGain, int32_t* blueGain) {
    *greenGain = static_cast<int32_t>(kUnityGain);
    // A channel that is black over the whole frame gives no ratio; its gain stays as it was
    // (with green black, neither ratio exists).
    if (sumGreen == 0) return;
    const double s =
        static_cast<double>(sumGreen) + static_cast<double>(sumRed) + static_cast<double>(sumBlue);
    const double e = (s / static_cast<double>(sumGreen)) / kChannels;
    if (sumRed != 0) {
        *redGain = TruncateGain(((s / static_cast<double>(sumRed)) / kChannels) * kUnityGain / e);
    }
    if (sumBlue != 0) {
        *blueGain = TruncateGain(((s / static_cast<double>(sumBlue)) / kChannels) * kUnityGain / e);
    }
}

void SetFrameGainsFromSums(ImageProcessor* processor, const ChannelSums& sums) {
    WhiteBalanceGains(sums.red, sums.green, sums.blue, &processor->frameRedGain,
                      &processor->frameGreenGain, &processor->frameBlueGain);
}

void BayerKernelSet::computeWhiteBalance(ImageProcessor* processor, BayerPhase phase) const {
    SetFrameGainsFromSums(processor, balanceSums(processor, phase, 0, processor->frameHeight));
}

}  // namespace bayercam
