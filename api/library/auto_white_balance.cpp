#include "api/library/auto_white_balance.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "api/library/named_controls.h"

namespace bayercam::library {
namespace {

constexpr uint32_t kSampleStep = 4;
// Too dark for a trustworthy ratio, or near clipping, where a channel stops growing.
constexpr uint8_t kDark = 20, kBright = 235;
// Chromaticity bins over ln(ratio) in [-kRange, kRange).
constexpr double kBinWidth = 0.05;
constexpr double kRange = 2.0;
constexpr int kBins = static_cast<int>(2 * kRange / kBinWidth);
// Fewer samples than this in the busiest bins tell nothing.
constexpr size_t kMinSamples = 64;
// The colour correction after the gains roughly doubles a cast in ln terms at most: this share
// of the measured cast is taken off, so that the gains approach neutral from one side.
constexpr double kDamping = 0.6;
constexpr uint32_t kGainUnity = 128;

struct Chroma {
    double red, blue;
};

int BinOf(double value) {
    return std::clamp(static_cast<int>(std::floor((value + kRange) / kBinWidth)), 0, kBins - 1);
}

}  // namespace

bool GreyCast(const bayercam_frame& frame, double* red, double* blue) {
    std::array<double, 256> ln{};
    for (int i = 1; i < 256; ++i) ln[i] = std::log(double(i));
    std::vector<Chroma> samples;
    for (uint32_t y = kSampleStep / 2; y < frame.height; y += kSampleStep) {
        const uint8_t* row = frame.data + size_t(y) * size_t(frame.stride);
        for (uint32_t x = kSampleStep / 2; x < frame.width; x += kSampleStep) {
            const uint8_t* pixel = row + size_t(x) * 4;  // B, G, R
            const auto [low, high] = std::minmax({pixel[0], pixel[1], pixel[2]});
            if (low < kDark || high > kBright) continue;
            samples.push_back({ln[pixel[2]] - ln[pixel[1]], ln[pixel[0]] - ln[pixel[1]]});
        }
    }
    std::vector<uint32_t> counts(kBins * kBins, 0);
    for (const Chroma& c : samples) counts[BinOf(c.red) * kBins + BinOf(c.blue)]++;
    // The busiest 3 x 3 block of bins: a grey spread over a bin edge still counts whole.
    int bestRed = 0, bestBlue = 0;
    uint32_t best = 0;
    for (int r = 1; r + 1 < kBins; ++r) {
        for (int b = 1; b + 1 < kBins; ++b) {
            uint32_t block = 0;
            for (int dr = -1; dr <= 1; ++dr)
                for (int db = -1; db <= 1; ++db) block += counts[(r + dr) * kBins + b + db];
            if (block > best) {
                best = block;
                bestRed = r;
                bestBlue = b;
            }
        }
    }
    if (best < kMinSamples) return false;
    double sumRed = 0, sumBlue = 0;
    size_t n = 0;
    for (const Chroma& c : samples) {
        if (std::abs(BinOf(c.red) - bestRed) > 1 || std::abs(BinOf(c.blue) - bestBlue) > 1)
            continue;
        sumRed += c.red;
        sumBlue += c.blue;
        ++n;
    }
    *red = sumRed / double(n);
    *blue = sumBlue / double(n);
    return true;
}

void AutoWhiteBalance::Enable(bool on) {
    if (on && !enabled_) Restart();
    enabled_ = on;
}

void AutoWhiteBalance::Restart() {
    watch_.Restart();
    settled_ = false;
    deviceBalanceOff_ = false;
}

void AutoWhiteBalance::Observe(const bayercam_frame& frame, const client::Filter& filter,
                               const FramesRead& framesRead) {
    if (!enabled_ || !watch_.Shows(frame.sequence)) return;
    if (!deviceBalanceOff_) {
        // The device would replace the gains with its own on every frame.
        int32_t deviceBalance = 0;
        const ControlProperty& control = *FindNamedControl("WhiteBalance");
        if (!ReadControl(filter, control, &deviceBalance).ok()) return;
        deviceBalanceOff_ = deviceBalance == 0 || WriteControl(filter, control, 0).ok();
        if (deviceBalance != 0) {
            watch_.Changed(framesRead());
            return;
        }
    }
    double red = 0, blue = 0;
    if (!GreyCast(frame, &red, &blue)) return;
    settled_ = std::abs(red) <= kTolerance && std::abs(blue) <= kTolerance;
    if (settled_) return;

    const ControlProperty& redControl = *FindNamedControl("RedGain");
    const ControlProperty& blueControl = *FindNamedControl("BlueGain");
    int32_t redGain = kGainUnity, blueGain = kGainUnity;
    if (!ReadControl(filter, redControl, &redGain).ok() ||
        !ReadControl(filter, blueControl, &blueGain).ok())
        return;
    // The driver clamps each gain to its range.
    const auto steer = [](int32_t gain, double cast) {
        return static_cast<int32_t>(std::lround(gain * std::exp(-kDamping * cast)));
    };
    const int32_t newRed = steer(redGain, red), newBlue = steer(blueGain, blue);
    if (newRed == redGain && newBlue == blueGain) return;
    if (newRed != redGain) WriteControl(filter, redControl, newRed);
    if (newBlue != blueGain) WriteControl(filter, blueControl, newBlue);
    watch_.Changed(framesRead());
}

}  // namespace bayercam::library
