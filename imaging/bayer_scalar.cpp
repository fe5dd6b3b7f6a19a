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

// Weighted 5 x 5 sum, negative sums to 0, rounded division by 2^shift, at most 255. Inlined with
// its constant table, the zero weights drop out.
[[gnu::always_inline]] inline int32_t Interpolate(const uint8_t* centre, ptrdiff_t pitch,
                                                  const Weights& weights, int shift) {
    int32_t t = 0;
#pragma GCC unroll 5
    for (int dy = -2; dy <= 2; ++dy) {
#pragma GCC unroll 5
        for (int dx = -2; dx <= 2; ++dx) t += weights[dy + 2][dx + 2] * centre[dy * pitch + dx];
    }
    t = std::max(t, 0);
    return std::min(255, (t + (1 << (shift - 1))) >> shift);
}

[[gnu::always_inline]] inline Rgb Reconstruct(const ImageProcessor* processor, BayerPhase phase,
                                              uint32_t x, uint32_t y) {
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

// The frame gains, and each matrix entry's magnitude on the side its flag puts it (0 on the
// other), read once per frame.
struct FrameCopies {
    uint32_t gains[3];
    int64_t positive[4][3];  // [input][output], the constant term as input 3
    int64_t negative[4][3];

    explicit FrameCopies(const ImageProcessor* processor)
        : gains{GainFactor(processor->frameRedGain), GainFactor(processor->frameGreenGain),
                GainFactor(processor->frameBlueGain)} {
        for (int i = 0; i < 4; ++i) {
            for (int k = 0; k < 3; ++k) {
                const int64_t magnitude = MatrixMagnitude(processor->frameMatrix[4 * i + k]);
                const bool flag = processor->matrixPositive[4 * i + k] != 0;
                positive[i][k] = flag ? magnitude : 0;
                negative[i][k] = flag ? 0 : magnitude;
            }
        }
    }
};

[[gnu::always_inline]] inline Rgb ApplyGains(Rgb colour, const FrameCopies& frame) {
    for (int c = 0; c < 3; ++c) {
        const uint32_t product = static_cast<uint32_t>(colour.channel[c]) * frame.gains[c];
        colour.channel[c] = static_cast<int32_t>(std::min<uint32_t>(255, product >> 7));
    }
    return colour;
}

// Positive and negative contributions are summed apart and each divided by 64 on its own.
[[gnu::always_inline]] inline int32_t MatrixOutput(const Rgb& in, const FrameCopies& frame, int k) {
    int64_t positive = frame.positive[3][k];
    int64_t negative = frame.negative[3][k];
    for (int i = 0; i < 3; ++i) {
        positive += in.channel[i] * frame.positive[i][k];
        negative += in.channel[i] * frame.negative[i][k];
    }
    return static_cast<int32_t>(std::clamp<int64_t>((positive >> 6) - (negative >> 6), 0, 255));
}

// Destination of pixel x in the row that starts at `row`.
uint8_t* OutputPixel(uint8_t* row, const KernelRows& rows, uint32_t x) {
    return row + size_t{rows.image.mirror ? rows.image.width - 1 - x : x} * 4;
}

uint8_t* OutputRow(const KernelRows& rows, uint32_t y) {
    return rows.image.rowZero + static_cast<ptrdiff_t>(y) * rows.image.pitch;
}

}  // namespace

void ConvertColorRows(const ImageProcessor* processor, BayerPhase phase, const KernelRows& rows) {
    const FrameCopies frame(processor);
    for (uint32_t y = rows.first; y < rows.end; ++y) {
        uint8_t* row = OutputRow(rows, y);
        for (uint32_t x = 0; x < rows.image.width; ++x) {
            const Rgb in = ApplyGains(Reconstruct(processor, phase, x, y), frame);
            uint8_t* out = OutputPixel(row, rows, x);
            out[0] = static_cast<uint8_t>(MatrixOutput(in, frame, 2));
            out[1] = static_cast<uint8_t>(MatrixOutput(in, frame, 1));
            out[2] = static_cast<uint8_t>(MatrixOutput(in, frame, 0));
            out[3] = 0xFF;
        }
    }
}

void ConvertLumaRows(const ImageProcessor* processor, BayerPhase phase, const KernelRows& rows) {
    const FrameCopies frame(processor);
    for (uint32_t y = rows.first; y < rows.end; ++y) {
        uint8_t* row = OutputRow(rows, y);
        for (uint32_t x = 0; x < rows.image.width; ++x) {
            const Rgb in = ApplyGains(Reconstruct(processor, phase, x, y), frame);
            // Each product is divided by 256 on its own, so the sum is at most 253.
            const int32_t luma = ((in.channel[0] * 77) >> 8) + ((in.channel[1] * 150) >> 8) +
                                 ((in.channel[2] * 29) >> 8);
            uint8_t* out = OutputPixel(row, rows, x);
            out[0] = out[1] = out[2] = static_cast<uint8_t>(luma);
            out[3] = 0xFF;
        }
    }
}

ChannelSums BalanceSums(const ImageProcessor* processor, BayerPhase phase, uint32_t first,
                        uint32_t end) {
    uint64_t sums[3] = {0, 0, 0};
    for (uint32_t y = first; y < end; ++y) {
        for (uint32_t x = 0; x < processor->frameWidth; ++x) {
            const Rgb colour = Reconstruct(processor, phase, x, y);
            for (int c = 0; c < 3; ++c) sums[c] += static_cast<uint32_t>(colour.channel[c]);
        }
    }
    return {sums[0], sums[1], sums[2]};
}

}  // namespace bayercam::scalar

namespace bayercam {

const BayerKernelSet kScalarKernels = {scalar::ConvertColorRows, scalar::ConvertLumaRows,
                                       scalar::BalanceSums};

}  // namespace bayercam
