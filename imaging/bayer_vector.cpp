// Vector forms of the kernels, compiled for each instruction set and chosen at run time. They
// compute exactly what the plain kernels compute, 8 or 16 pixels at a time in 16-bit lanes.
//
// Per pixel the reconstruction needs six neighbourhood terms (the centre c; h1, h2: the sums of
// the neighbours one and two columns away; v1, v2: the same for rows; d: the four diagonal
// neighbours); every kernel of the mosaic is a combination of them:
//   green (x2) = 8c + 4h1 + 4v1 - 2h2 - 2v2      row = 10c + 8h1 - 2h2 - 2d + v2
//   diagonal   = 12c + 4d - 3h2 - 3v2            column = 10c + 8v1 - 2v2 - 2d + h2
// all in sixteenths, so one rounding serves them all ((2T + 8) >> 4 is (T + 4) >> 3).
// A row carries one chroma colour (red or blue) and green, alternating by column, so a block
// yields three planes: `same` (the row's chroma colour: the raw value at chroma sites, the row
// kernel at green sites), `green` and `cross` (the other chroma colour: diagonal at chroma sites,
// column kernel at green sites). Whether `same` is red or blue is a per-row choice of gains and
// matrix rows, never a per-pixel one.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/bayer_kernels.h"
#include "imaging/image_processor.h"

// Scalable-vector targets are left out: the kernels cap blocks at 16 pixels and rely on the
// per-128-bit-block lane order of the fixed-width targets.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128 | HWY_RVV)
#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/bayer_vector.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

#ifndef BAYERCAM_BAYER_VECTOR_SHARED
#define BAYERCAM_BAYER_VECTOR_SHARED
namespace bayercam::vector_detail {

// The row layout of a phase: row 0 is a row of red sites or of blue sites, with its chroma sites
// in the even or the odd columns; every odd row flips both.
struct PhaseLayout {
    bool evenRowRed;
    bool evenRowChromaEven;
};

inline PhaseLayout LayoutOf(BayerPhase phase) {
    switch (phase) {
        case BayerPhase::GRBG:
            return {true, false};
        case BayerPhase::BGGR:
            return {false, true};
        case BayerPhase::RGGB:
            return {true, true};
        case BayerPhase::GBRG:
            break;
    }
    return {false, false};
}

// Input planes by matrix row: which matrix row (0 red, 1 green, 2 blue) each of same, green and
// cross feeds, in a row of red sites and in a row of blue sites.
constexpr int kRedRowInputs[3] = {0, 1, 2};
constexpr int kBlueRowInputs[3] = {2, 1, 0};

// Which form of the matrix step a frame's matrix allows.
enum class MatrixRange {
    kPairs,  // coefficients fit 16 bits: pairwise 16 x 16 -> 32-bit products
    kWide,   // coefficients up to 2^22: 32-bit products, sums still exact in 32 bits
    kExact,  // larger: only the 64-bit sums of the plain kernel are exact
};

constexpr int64_t kPairsLimit = 32767;
constexpr int64_t kWideLimit = int64_t{1} << 22;

// The matrix step of one row type, split for the vector form: for output k, the magnitudes that
// go to the positive and to the negative sum for each input plane; the constant term as its
// remainder below 64 (added before the division) and its quotient (added after it), since
// (S + 64q + r) >> 6 == ((S + r) >> 6) + q.
struct RowMatrix {
    uint32_t positive[3][3];  // [output][plane]
    uint32_t negative[3][3];
    uint32_t positiveRemainder[3];
    uint32_t negativeRemainder[3];
    int32_t quotientDifference[3];
};

inline RowMatrix SplitMatrix(const ImageProcessor* processor, const int (&inputs)[3]) {
    RowMatrix split{};
    for (int k = 0; k < 3; ++k) {
        for (int plane = 0; plane < 3; ++plane) {
            const int index = 4 * inputs[plane] + k;
            const auto magnitude =
                static_cast<uint32_t>(MatrixMagnitude(processor->frameMatrix[index]));
            (processor->matrixPositive[index] ? split.positive : split.negative)[k][plane] =
                magnitude;
        }
        const auto constant =
            static_cast<uint32_t>(MatrixMagnitude(processor->frameMatrix[12 + k]));
        const bool positive = processor->matrixPositive[12 + k] != 0;
        const auto quotient = static_cast<int32_t>(constant >> 6);
        (positive ? split.positiveRemainder : split.negativeRemainder)[k] = constant & 63;
        split.quotientDifference[k] = positive ? quotient : -quotient;
    }
    return split;
}

inline MatrixRange RangeOf(const ImageProcessor* processor) {
    int64_t largest = 0;
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) {
            largest = std::max(largest, MatrixMagnitude(processor->frameMatrix[4 * i + k]));
        }
    }
    if (largest <= kPairsLimit) return MatrixRange::kPairs;
    if (largest <= kWideLimit) return MatrixRange::kWide;
    return MatrixRange::kExact;
}

// Luminance weights in 1/256 units.
constexpr uint16_t kLumaRed = 77;
constexpr uint16_t kLumaGreen = 150;
constexpr uint16_t kLumaBlue = 29;

// White-balance sums are gathered in 16-bit lanes of at most 255 per block; they are moved to
// the 64-bit totals before 257 blocks could overflow a lane.
constexpr uint32_t kBlocksPerFlush = 256;

}  // namespace bayercam::vector_detail
#endif  // BAYERCAM_BAYER_VECTOR_SHARED

HWY_BEFORE_NAMESPACE();
namespace bayercam {
namespace HWY_NAMESPACE {

#if HWY_TARGET == HWY_SCALAR || HWY_TARGET == HWY_EMU128

// No vector unit: the plain kernels.
void ColorKernel(ImageProcessor* processor, BayerPhase phase) {
    scalar::ConvertColorKernel(processor, phase);
}
void LumaKernel(ImageProcessor* processor, BayerPhase phase) {
    scalar::ConvertLumaKernel(processor, phase);
}
void WhiteBalanceKernel(ImageProcessor* processor, BayerPhase phase) {
    scalar::ComputeWhiteBalance(processor, phase);
}
void ExpandBytes(const uint8_t* source, uint8_t* destination, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t pixel = 0xFF000000u | source[i] * 0x010101u;
        std::memcpy(destination + 4 * i, &pixel, 4);
    }
}

#else

namespace hn = hwy::HWY_NAMESPACE;
using namespace vector_detail;

// At most 16 pixels per block: the work buffer's margins are sized for 16-pixel blocks.
using D16 = hn::CappedTag<int16_t, 16>;
using DU16 = hn::RebindToUnsigned<D16>;
using D8 = hn::Rebind<uint8_t, D16>;
using D32 = hn::Repartition<int32_t, D16>;
using DU32 = hn::RebindToUnsigned<D32>;
using V16 = hn::Vec<D16>;
using VU16 = hn::Vec<DU16>;
using V8 = hn::Vec<D8>;
using V32 = hn::Vec<D32>;
using VU32 = hn::Vec<DU32>;
constexpr size_t kMaxLanes = 16;

// The five work rows around an output row, each at image column 0.
struct RowWindow {
    const uint8_t* up2;
    const uint8_t* up1;
    const uint8_t* mid;
    const uint8_t* down1;
    const uint8_t* down2;
};

RowWindow WindowAt(const ImageProcessor* processor, uint32_t y) {
    const ptrdiff_t pitch = processor->rowPitch;
    const uint8_t* mid = processor->pixelOrigin + static_cast<ptrdiff_t>(y) * pitch;
    return {mid - 2 * pitch, mid - pitch, mid, mid + pitch, mid + 2 * pitch};
}

HWY_INLINE V16 LoadPixels(const uint8_t* p) {
    return hn::PromoteTo(D16(), hn::LoadU(D8(), p));
}

// Negative sums become 0; the rounded sixteenth is at most 255.
HWY_INLINE V16 Normalise(V16 sum) {
    const D16 d;
    return hn::Min(hn::Max(hn::ShiftRight<4>(hn::Add(sum, hn::Set(d, 8))), hn::Zero(d)),
                   hn::Set(d, 255));
}

struct Planes {
    V16 same;
    V16 green;
    V16 cross;
};

template <bool kChromaEven>
HWY_INLINE Planes Reconstruct(const RowWindow& rows, size_t x) {
    const uint8_t* mid = rows.mid + x;
    const uint8_t* up1 = rows.up1 + x;
    const uint8_t* down1 = rows.down1 + x;
    const V16 c = LoadPixels(mid);
    const V16 h1 = hn::Add(LoadPixels(mid - 1), LoadPixels(mid + 1));
    const V16 h2 = hn::Add(LoadPixels(mid - 2), LoadPixels(mid + 2));
    const V16 v1 = hn::Add(LoadPixels(up1), LoadPixels(down1));
    const V16 v2 = hn::Add(LoadPixels(rows.up2 + x), LoadPixels(rows.down2 + x));
    const V16 d = hn::Add(hn::Add(LoadPixels(up1 - 1), LoadPixels(up1 + 1)),
                          hn::Add(LoadPixels(down1 - 1), LoadPixels(down1 + 1)));

    const V16 raw = hn::ShiftLeft<4>(c);
    const V16 s2 = hn::Add(h2, v2);
    const V16 green =
        hn::Sub(hn::ShiftLeft<2>(hn::Add(hn::Add(hn::Add(c, c), h1), v1)), hn::Add(s2, s2));
    const V16 centreTerm = hn::Add(hn::ShiftLeft<3>(c), hn::ShiftLeft<1>(hn::Sub(c, d)));
    const V16 row =
        hn::Add(hn::Sub(hn::Add(centreTerm, hn::ShiftLeft<3>(h1)), hn::Add(h2, h2)), v2);
    const V16 column =
        hn::Add(hn::Sub(hn::Add(centreTerm, hn::ShiftLeft<3>(v1)), hn::Add(v2, v2)), h2);
    const V16 diagonal = hn::Sub(hn::ShiftLeft<2>(hn::Add(hn::Add(hn::Add(c, c), c), d)),
                                 hn::Add(s2, hn::Add(s2, s2)));

    // OddEven(odd, even) takes odd lanes from its first argument.
    if constexpr (kChromaEven) {
        return {Normalise(hn::OddEven(row, raw)), Normalise(hn::OddEven(raw, green)),
                Normalise(hn::OddEven(column, diagonal))};
    } else {
        return {Normalise(hn::OddEven(raw, row)), Normalise(hn::OddEven(green, raw)),
                Normalise(hn::OddEven(diagonal, column))};
    }
}

// min(255, (v * g) >> 7) with the full 24-bit product: a non-zero high half means at least
// 65536, and (high << 8) still fits 16 bits (high <= 254), forcing the minimum to 255.
HWY_INLINE V16 ApplyGain(V16 value, VU16 gain) {
    const DU16 du;
    const VU16 v = hn::BitCast(du, value);
    const VU16 low = hn::Mul(v, gain);
    const VU16 high = hn::MulHigh(v, gain);
    const VU16 scaled = hn::Or(hn::ShiftRight<7>(low), hn::ShiftLeft<8>(high));
    return hn::BitCast(D16(), hn::Min(scaled, hn::Set(du, 255)));
}

struct RowGains {
    VU16 same;
    VU16 green;
    VU16 cross;
};

RowGains GainsFor(const ImageProcessor* processor, const int (&inputs)[3]) {
    const DU16 du;
    const int32_t frameGains[3] = {processor->frameRedGain, processor->frameGreenGain,
                                   processor->frameBlueGain};
    auto gain = [&](int plane) {
        return hn::Set(du, static_cast<uint16_t>(frameGains[inputs[plane]]));
    };
    return {gain(0), gain(1), gain(2)};
}

HWY_INLINE Planes ApplyGains(const Planes& planes, const RowGains& gains) {
    return {ApplyGain(planes.same, gains.same), ApplyGain(planes.green, gains.green),
            ApplyGain(planes.cross, gains.cross)};
}

// Writes blue, green, red and 0xFF for `count` pixels (all lanes unless the block is the last,
// partial one of a row, which goes through a scratch block so nothing past the row is written).
HWY_INLINE void StorePixels(V8 blue, V8 green, V8 red, uint8_t* out, size_t count) {
    const D8 d8;
    const V8 alpha = hn::Set(d8, 0xFF);
    if (count == hn::Lanes(d8)) {
        hn::StoreInterleaved4(blue, green, red, alpha, d8, out);
        return;
    }
    HWY_ALIGN uint8_t scratch[kMaxLanes * 4];
    hn::StoreInterleaved4(blue, green, red, alpha, d8, scratch);
    std::memcpy(out, scratch, count * 4);
}

// The colour matrix with coefficients below 2^15: each sum is two pairwise products of 16-bit
// lanes, (same, green) . (ws, wg) + (cross, 1) . (wc, remainder).
struct PairsMatrix {
    V16 positiveSameGreen[3];
    V16 positiveCrossOne[3];
    V16 negativeSameGreen[3];
    V16 negativeCrossOne[3];
    V32 quotientDifference[3];

    explicit PairsMatrix(const RowMatrix& m) {
        const D32 d32;
        auto pair = [&](uint32_t low, uint32_t high) {
            return hn::BitCast(D16(), hn::Set(d32, static_cast<int32_t>(low | (high << 16))));
        };
        for (int k = 0; k < 3; ++k) {
            positiveSameGreen[k] = pair(m.positive[k][0], m.positive[k][1]);
            positiveCrossOne[k] = pair(m.positive[k][2], m.positiveRemainder[k]);
            negativeSameGreen[k] = pair(m.negative[k][0], m.negative[k][1]);
            negativeCrossOne[k] = pair(m.negative[k][2], m.negativeRemainder[k]);
            quotientDifference[k] = hn::Set(d32, m.quotientDifference[k]);
        }
    }

    // Half of a block: the pairs come from interleaving, lower or upper lanes of each
    // 128-bit block.
    HWY_INLINE V32 DotPairs(V16 sameGreen, V16 crossOne, V16 weightsSameGreen,
                            V16 weightsCrossOne) const {
        const D32 d32;
        V32 sum1 = hn::Zero(d32);
        V32 sum0 =
            hn::ReorderWidenMulAccumulate(d32, sameGreen, weightsSameGreen, hn::Zero(d32), sum1);
        sum0 = hn::ReorderWidenMulAccumulate(d32, crossOne, weightsCrossOne, sum0, sum1);
        return hn::RearrangeToOddPlusEven(sum0, sum1);
    }

    HWY_INLINE V32 Output(int k, V16 sameGreen, V16 crossOne) const {
        const V32 positive =
            DotPairs(sameGreen, crossOne, positiveSameGreen[k], positiveCrossOne[k]);
        const V32 negative =
            DotPairs(sameGreen, crossOne, negativeSameGreen[k], negativeCrossOne[k]);
        return hn::Add(hn::Sub(hn::ShiftRight<6>(positive), hn::ShiftRight<6>(negative)),
                       quotientDifference[k]);
    }

    // The three outputs (red, green, blue) of a block, clamped to 0..255.
    HWY_INLINE void Apply(const Planes& in, V8 out[3]) const {
        const D16 d;
        const V16 one = hn::Set(d, 1);
        const V16 sameGreenLow = hn::InterleaveLower(d, in.same, in.green);
        const V16 sameGreenHigh = hn::InterleaveUpper(d, in.same, in.green);
        const V16 crossOneLow = hn::InterleaveLower(d, in.cross, one);
        const V16 crossOneHigh = hn::InterleaveUpper(d, in.cross, one);
        for (int k = 0; k < 3; ++k) {
            const V16 joined = hn::ReorderDemote2To(d, Output(k, sameGreenLow, crossOneLow),
                                                    Output(k, sameGreenHigh, crossOneHigh));
            out[k] = hn::DemoteTo(D8(), joined);
        }
    }
};

// The colour matrix with coefficients up to 2^22: 32-bit products, lanes widened in the same
// order as the pairs above so that the same demotion restores the pixel order.
struct WideMatrix {
    VU32 positive[3][3];
    VU32 negative[3][3];
    VU32 positiveRemainder[3];
    VU32 negativeRemainder[3];
    V32 quotientDifference[3];

    explicit WideMatrix(const RowMatrix& m) {
        const DU32 du32;
        for (int k = 0; k < 3; ++k) {
            for (int plane = 0; plane < 3; ++plane) {
                positive[k][plane] = hn::Set(du32, m.positive[k][plane]);
                negative[k][plane] = hn::Set(du32, m.negative[k][plane]);
            }
            positiveRemainder[k] = hn::Set(du32, m.positiveRemainder[k]);
            negativeRemainder[k] = hn::Set(du32, m.negativeRemainder[k]);
            quotientDifference[k] = hn::Set(D32(), m.quotientDifference[k]);
        }
    }

    HWY_INLINE V32 Output(int k, const VU32 (&in)[3]) const {
        VU32 p = positiveRemainder[k];
        VU32 n = negativeRemainder[k];
        for (int plane = 0; plane < 3; ++plane) {
            p = hn::Add(p, hn::Mul(in[plane], positive[k][plane]));
            n = hn::Add(n, hn::Mul(in[plane], negative[k][plane]));
        }
        const D32 d32;
        return hn::Add(
            hn::Sub(hn::BitCast(d32, hn::ShiftRight<6>(p)), hn::BitCast(d32, hn::ShiftRight<6>(n))),
            quotientDifference[k]);
    }

    HWY_INLINE void Apply(const Planes& in, V8 out[3]) const {
        const DU32 du32;
        const DU16 du;
        const VU16 zero = hn::Zero(du);
        const V16 planes[3] = {in.same, in.green, in.cross};
        VU32 low[3];
        VU32 high[3];
        for (int plane = 0; plane < 3; ++plane) {
            const VU16 v = hn::BitCast(du, planes[plane]);
            low[plane] = hn::ZipLower(du32, v, zero);
            high[plane] = hn::ZipUpper(du32, v, zero);
        }
        for (int k = 0; k < 3; ++k) {
            const V16 joined = hn::ReorderDemote2To(D16(), Output(k, low), Output(k, high));
            out[k] = hn::DemoteTo(D8(), joined);
        }
    }
};

// Runs `block(rows, x, count, out)` over one output row: full blocks, then the partial one.
template <bool kChromaEven, class Block>
HWY_INLINE void ForEachBlock(const RowWindow& rows, uint32_t width, Block& block) {
    const size_t lanes = hn::Lanes(D16());
    size_t x = 0;
    for (; x + lanes <= width; x += lanes) {
        block(Reconstruct<kChromaEven>(rows, x), x, lanes);
    }
    if (x < width) block(Reconstruct<kChromaEven>(rows, x), x, width - x);
}

// Visits every row with the block handler of its row type (red or blue sites) and its chroma
// column parity: the only per-row decision.
template <class RowHandler>
void ForEachRow(const ImageProcessor* processor, BayerPhase phase, RowHandler& redRows,
                RowHandler& blueRows) {
    const PhaseLayout layout = LayoutOf(phase);
    const uint32_t width = processor->frameWidth;
    for (uint32_t y = 0; y < processor->frameHeight; ++y) {
        const bool odd = (y & 1) != 0;
        RowHandler& handler = layout.evenRowRed != odd ? redRows : blueRows;
        handler.StartRow(y);
        const RowWindow rows = WindowAt(processor, y);
        if (layout.evenRowChromaEven != odd) {
            ForEachBlock<true>(rows, width, handler);
        } else {
            ForEachBlock<false>(rows, width, handler);
        }
        handler.EndRow();
    }
}

// Output row y starts y * width pixels after outputCursor.
uint8_t* OutputRow(const ImageProcessor* processor, uint32_t y) {
    return processor->outputCursor + size_t{y} * processor->frameWidth * 4;
}

template <class Matrix>
struct ColorRows {
    const ImageProcessor* processor;
    RowGains gains;
    Matrix matrix;
    uint8_t* out = nullptr;

    ColorRows(const ImageProcessor* p, const int (&inputs)[3])
        : processor(p), gains(GainsFor(p, inputs)), matrix(SplitMatrix(p, inputs)) {}

    void StartRow(uint32_t y) { out = OutputRow(processor, y); }
    void EndRow() {}
    HWY_INLINE void operator()(const Planes& planes, size_t x, size_t count) {
        V8 rgb[3];
        matrix.Apply(ApplyGains(planes, gains), rgb);
        StorePixels(rgb[2], rgb[1], rgb[0], out + x * 4, count);
    }
};

template <class Matrix>
void RunColor(ImageProcessor* processor, BayerPhase phase) {
    ColorRows<Matrix> redRows(processor, kRedRowInputs);
    ColorRows<Matrix> blueRows(processor, kBlueRowInputs);
    ForEachRow(processor, phase, redRows, blueRows);
}

void ColorKernel(ImageProcessor* processor, BayerPhase phase) {
    switch (RangeOf(processor)) {
        case MatrixRange::kPairs:
            return RunColor<PairsMatrix>(processor, phase);
        case MatrixRange::kWide:
            return RunColor<WideMatrix>(processor, phase);
        case MatrixRange::kExact:
            break;
    }
    scalar::ConvertColorKernel(processor, phase);
}

struct LumaRows {
    const ImageProcessor* processor;
    RowGains gains;
    VU16 weightSame;
    VU16 weightGreen;
    VU16 weightCross;
    uint8_t* out = nullptr;

    LumaRows(const ImageProcessor* p, const int (&inputs)[3])
        : processor(p), gains(GainsFor(p, inputs)) {
        const DU16 du;
        const uint16_t weights[3] = {kLumaRed, kLumaGreen, kLumaBlue};
        weightSame = hn::Set(du, weights[inputs[0]]);
        weightGreen = hn::Set(du, weights[inputs[1]]);
        weightCross = hn::Set(du, weights[inputs[2]]);
    }

    void StartRow(uint32_t y) { out = OutputRow(processor, y); }
    void EndRow() {}
    HWY_INLINE void operator()(const Planes& planes, size_t x, size_t count) {
        const DU16 du;
        const Planes gained = ApplyGains(planes, gains);
        // Each product is at most 255 x 150 and is divided by 256 on its own.
        auto weighted = [&](V16 v, VU16 weight) {
            return hn::ShiftRight<8>(hn::Mul(hn::BitCast(du, v), weight));
        };
        const VU16 luma =
            hn::Add(hn::Add(weighted(gained.same, weightSame), weighted(gained.green, weightGreen)),
                    weighted(gained.cross, weightCross));
        const V8 y8 = hn::DemoteTo(D8(), hn::BitCast(D16(), luma));
        StorePixels(y8, y8, y8, out + x * 4, count);
    }
};

void LumaKernel(ImageProcessor* processor, BayerPhase phase) {
    LumaRows redRows(processor, kRedRowInputs);
    LumaRows blueRows(processor, kBlueRowInputs);
    ForEachRow(processor, phase, redRows, blueRows);
}

struct BalanceRows {
    const int (&inputs)[3];
    uint64_t* totals;  // red, green, blue, shared by both row types
    VU16 sums[3];
    uint32_t blocks = 0;

    BalanceRows(const int (&in)[3], uint64_t* t) : inputs(in), totals(t) {
        for (VU16& sum : sums) sum = hn::Zero(DU16());
    }

    void StartRow(uint32_t) {}
    void EndRow() { Flush(); }
    void Flush() {
        const DU32 du32;
        const hn::Half<DU16> half;
        for (int plane = 0; plane < 3; ++plane) {
            const VU32 wide = hn::Add(hn::PromoteTo(du32, hn::LowerHalf(half, sums[plane])),
                                      hn::PromoteTo(du32, hn::UpperHalf(half, sums[plane])));
            totals[inputs[plane]] += hn::GetLane(hn::SumOfLanes(du32, wide));
            sums[plane] = hn::Zero(DU16());
        }
        blocks = 0;
    }
    HWY_INLINE void operator()(const Planes& planes, size_t, size_t count) {
        const DU16 du;
        // Pixels of the last block beyond the width are not counted.
        const auto inside = hn::FirstN(du, count);
        const V16 values[3] = {planes.same, planes.green, planes.cross};
        for (int plane = 0; plane < 3; ++plane) {
            sums[plane] =
                hn::Add(sums[plane], hn::IfThenElseZero(inside, hn::BitCast(du, values[plane])));
        }
        if (++blocks == kBlocksPerFlush) Flush();
    }
};

void WhiteBalanceKernel(ImageProcessor* processor, BayerPhase phase) {
    uint64_t totals[3] = {0, 0, 0};
    BalanceRows redRows(kRedRowInputs, totals);
    BalanceRows blueRows(kBlueRowInputs, totals);
    ForEachRow(processor, phase, redRows, blueRows);
    WhiteBalanceGains(totals[0], totals[1], totals[2], &processor->frameRedGain,
                      &processor->frameGreenGain, &processor->frameBlueGain);
}

void ExpandBytes(const uint8_t* source, uint8_t* destination, size_t count) {
    const hn::ScalableTag<uint8_t> d8;
    const size_t lanes = hn::Lanes(d8);
    const auto alpha = hn::Set(d8, 0xFF);
    size_t i = 0;
    for (; i + lanes <= count; i += lanes) {
        const auto v = hn::LoadU(d8, source + i);
        hn::StoreInterleaved4(v, v, v, alpha, d8, destination + 4 * i);
    }
    for (; i < count; ++i) {
        const uint32_t pixel = 0xFF000000u | source[i] * 0x010101u;
        std::memcpy(destination + 4 * i, &pixel, 4);
    }
}

#endif  // vector targets

}  // namespace HWY_NAMESPACE
}  // namespace bayercam
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace bayercam {

HWY_EXPORT(ColorKernel);
HWY_EXPORT(LumaKernel);
HWY_EXPORT(WhiteBalanceKernel);
HWY_EXPORT(ExpandBytes);

void ConvertColorKernel(ImageProcessor* processor, BayerPhase phase) {
    HWY_DYNAMIC_DISPATCH(ColorKernel)(processor, phase);
}
void ConvertLumaKernel(ImageProcessor* processor, BayerPhase phase) {
    HWY_DYNAMIC_DISPATCH(LumaKernel)(processor, phase);
}
void ComputeWhiteBalance(ImageProcessor* processor, BayerPhase phase) {
    HWY_DYNAMIC_DISPATCH(WhiteBalanceKernel)(processor, phase);
}
void ExpandBytesToBgra(const uint8_t* source, uint8_t* destination, size_t count) {
    HWY_DYNAMIC_DISPATCH(ExpandBytes)(source, destination, count);
}

const BayerKernelSet kVectorKernels = {ConvertColorKernel, ConvertLumaKernel, ComputeWhiteBalance};

}  // namespace bayercam
#endif  // HWY_ONCE
