// The kernels pixel by pixel, in the plainest form: reconstruction from the 5 x 5 weight tables,
// the gain step and the matrix step with exact 64-bit sums. The vector kernels must match these
// byte for byte.
#include <algorithm>
#include <cstdint>

#include "imaging/bayer_kernels.h"
#include "imaging/image_processor.h"

namespace bayercam::scalar {
namespace {

enum Site { kRed, kGreen, kBlue };

// The colour each site carries, by phase, row parity and column parity.
constexpr Site kSites[4][2][2] = {
    {{kGreen, kRed}, {kBlue, kGreen}},  // GRBG
    {{kBlue, kGreen}, {kGreen, kRed}},  // BGGR
    {{kRed, kGreen}, {kGreen, kBlue}},  // RGGB
    {{kGreen, kBlue}, {kRed, kGreen}},  // GBRG
};

using Weights = int8_t[5][5];

// Rows dy = -2..2, columns dx = -2..2. Green divides by 8, the others by 16.
constexpr Weights kGreenWeights = {
    {0, 0, -1, 0, 0}, {0, 0, 2, 0, 0}, {-1, 2, 4, 2, -1}, {0, 0, 2, 0, 0}, {0, 0, -1, 0, 0}};
// At a green site: the colour of its left and right neighbours.
constexpr Weights kRowWeights = {
    {0, 0, 1, 0, 0}, {0, -2, 0, -2, 0}, {-2, 8, 10, 8, -2}, {0, -2, 0, -2, 0}, {0, 0, 1, 0, 0}};
// At a green site: the colour of its upper and lower neighbours.
constexpr Weights kColumnWeights = {
    {0, 0, -2, 0, 0}, {0, -2, 8, -2, 0}, {1, 0, 10, 0, 1}, {0, -2, 8, -2, 0}, {0, 0, -2, 0, 0}};
// Blue at a red site, red at a blue site.
constexpr Weights kDiagonalWeights = {
    {0, 0, -3, 0, 0}, {0, 4, 0, 4, 0}, {-3, 0, 12, 0, -3}, {0, 4, 0, 4, 0}, {0, 0, -3, 0, 0}};

constexpr int kGreenShift = 3;
constexpr int kChromaShift = 4;

struct Rgb {
    int32_t channel[3];  // red, green, blue
};

// Weighted 5 x 5 sum, negative sums to 0, rounded division by 2^shift, at most 255.
int32_t Interpolate(const uint8_t* centre, ptrdiff_t pitch, const Weights& weights, int shift) {
    int32_t t = 0;
#pragma GCC unroll 5
    for (int dy = -2; dy <= 2; ++dy) {
#pragma GCC unroll 5
        for (int dx = -2; dx <= 2; ++dx) t += weights[dy + 2][dx + 2] * centre[dy * pitch + dx];
    }
    t = std::max(t, 0);
    return std::min(255, (t + (1 << (shift - 1))) >> shift);
}

Rgb Reconstruct(const ImageProcessor* processor, BayerPhase phase, uint32_t x, uint32_t y) {
    const ptrdiff_t pitch = processor->rowPitch;
    const uint8_t* centre = processor->pixelOrigin + static_cast<ptrdiff_t>(y) * pitch + x;
    const Site(&row)[2] = kSites[static_cast<int>(phase)][y & 1];
    const int32_t raw = *centre;
    switch (row[x & 1]) {
        case kRed:
            return {{raw, Interpolate(centre, pitch, kGreenWeights, kGreenShift),
                     Interpolate(centre, pitch, kDiagonalWeights, kChromaShift)}};
        case kBlue:
            return {{Interpolate(centre, pitch, kDiagonalWeights, kChromaShift),
                     Interpolate(centre, pitch, kGreenWeights, kGreenShift), raw}};
        case kGreen:
            break;
    }
    const int32_t across = Interpolate(centre, pitch, kRowWeights, kChromaShift);
    const int32_t along = Interpolate(centre, pitch, kColumnWeights, kChromaShift);
    const bool redRow = row[0] == kRed || row[1] == kRed;
    return redRow ? Rgb{{across, raw, along}} : Rgb{{along, raw, across}};
}

// The low 16 bits of a frame gain, unsigned; 128 is unity.
uint32_t GainFactor(int32_t gain) {
    return static_cast<uint16_t>(gain);
}

Rgb ApplyGains(Rgb colour, const uint32_t gains[3]) {
    for (int c = 0; c < 3; ++c) {
        const uint32_t product = static_cast<uint32_t>(colour.channel[c]) * gains[c];
        colour.channel[c] = static_cast<int32_t>(std::min<uint32_t>(255, product >> 7));
    }
    return colour;
}

// Positive and negative contributions are summed apart and each divided by 64 on its own.
int32_t MatrixOutput(const Rgb& in, const ImageProcessor* processor, int k) {
    int64_t positive = 0;
    int64_t negative = 0;
    for (int i = 0; i < 4; ++i) {
        const int64_t magnitude = MatrixMagnitude(processor->frameMatrix[4 * i + k]);
        const int64_t term = i < 3 ? in.channel[i] * magnitude : magnitude;
        (processor->matrixPositive[4 * i + k] ? positive : negative) += term;
    }
    return static_cast<int32_t>(std::clamp<int64_t>((positive >> 6) - (negative >> 6), 0, 255));
}

uint8_t* OutputPixel(const ImageProcessor* processor, uint32_t x, uint32_t y) {
    return processor->outputCursor + (size_t{y} * processor->frameWidth + x) * 4;
}

void FrameGains(const ImageProcessor* processor, uint32_t gains[3]) {
    gains[0] = GainFactor(processor->frameRedGain);
    gains[1] = GainFactor(processor->frameGreenGain);
    gains[2] = GainFactor(processor->frameBlueGain);
}

}  // namespace

void ConvertColorKernel(ImageProcessor* processor, BayerPhase phase) {
    uint32_t gains[3];
    FrameGains(processor, gains);
    for (uint32_t y = 0; y < processor->frameHeight; ++y) {
        for (uint32_t x = 0; x < processor->frameWidth; ++x) {
            const Rgb in = ApplyGains(Reconstruct(processor, phase, x, y), gains);
            uint8_t* out = OutputPixel(processor, x, y);
            out[0] = static_cast<uint8_t>(MatrixOutput(in, processor, 2));
            out[1] = static_cast<uint8_t>(MatrixOutput(in, processor, 1));
            out[2] = static_cast<uint8_t>(MatrixOutput(in, processor, 0));
            out[3] = 0xFF;
        }
    }
}

void ConvertLumaKernel(ImageProcessor* processor, BayerPhase phase) {
    uint32_t gains[3];
    FrameGains(processor, gains);
    for (uint32_t y = 0; y < processor->frameHeight; ++y) {
        for (uint32_t x = 0; x < processor->frameWidth; ++x) {
            const Rgb in = ApplyGains(Reconstruct(processor, phase, x, y), gains);
            // Each product is divided by 256 on its own, so the sum is at most 253.
            const int32_t luma = ((in.channel[0] * 77) >> 8) + ((in.channel[1] * 150) >> 8) +
                                 ((in.channel[2] * 29) >> 8);
            uint8_t* out = OutputPixel(processor, x, y);
            out[0] = out[1] = out[2] = static_cast<uint8_t>(luma);
            out[3] = 0xFF;
        }
    }
}

void ComputeWhiteBalance(ImageProcessor* processor, BayerPhase phase) {
    uint64_t sums[3] = {0, 0, 0};
    for (uint32_t y = 0; y < processor->frameHeight; ++y) {
        for (uint32_t x = 0; x < processor->frameWidth; ++x) {
            const Rgb colour = Reconstruct(processor, phase, x, y);
            for (int c = 0; c < 3; ++c) sums[c] += static_cast<uint32_t>(colour.channel[c]);
        }
    }
    WhiteBalanceGains(sums[0], sums[1], sums[2], &processor->frameRedGain,
                      &processor->frameGreenGain, &processor->frameBlueGain);
}

}  // namespace bayercam::scalar

namespace bayercam {

const BayerKernelSet kScalarKernels = {scalar::ConvertColorKernel, scalar::ConvertLumaKernel,
                                       scalar::ComputeWhiteBalance};

}  // namespace bayercam
