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

// The blocks load and store unaligned 32-byte vectors; splitting them in halves, as generic
// tuning does, costs more than it saves on any processor with these instruction sets.
#if defined(__GNUC__) && !defined(__clang__) && (defined(__x86_64__) || defined(__i386__)) && \
    !defined(BAYERCAM_BAYER_VECTOR_TUNED)
#define BAYERCAM_BAYER_VECTOR_TUNED
#pragma GCC target("tune=haswell")
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

// White-balance sums are gathered in 16-bit lanes, which take two values of at most 255 per
// block (one from each column parity); they are moved to the 64-bit totals before a lane could
// overflow.
constexpr uint32_t kBlocksPerFlush = 128;

// The small fixed loops over vectors must be unrolled for the vectors to stay in registers.
#define BAYERCAM_UNROLL _Pragma("GCC unroll 16")

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

// One group holds the samples of one column parity: a block of 2 x lanes pixels is an even
// group and an odd group. At most 16 lanes, so a block never reads past the work buffer's
// margins by more than the scratch copy below handles.
using D16 = hn::CappedTag<int16_t, 16>;
using DU16 = hn::RebindToUnsigned<D16>;
using DBytes = hn::Repartition<uint8_t, DU16>;
using D32 = hn::Repartition<int32_t, D16>;
using DU32 = hn::RebindToUnsigned<D32>;
using V16 = hn::Vec<D16>;
using VU16 = hn::Vec<DU16>;
using V32 = hn::Vec<D32>;
using VU32 = hn::Vec<DU32>;
constexpr size_t kMaxBlockPixels = 32;

// Samples of one work row around a block starting at column x0, split by parity: lane i of
// `even` is column x0 + 2i, of `odd` column x0 + 2i + 1; `Left` is one pair of columns to the
// left (x0 - 2 + 2i, x0 - 1 + 2i), `Right` one pair to the right.
struct SplitRow {
    V16 evenLeft, oddLeft, even, odd, evenRight, oddRight;
};

HWY_INLINE void Split(const uint8_t* p, V16& even, V16& odd) {
    const DU16 du;
    const VU16 pairs = hn::BitCast(du, hn::LoadU(DBytes(), p));
    even = hn::BitCast(D16(), hn::And(pairs, hn::Set(du, 0x00FF)));
    odd = hn::BitCast(D16(), hn::ShiftRight<8>(pairs));
}

HWY_INLINE SplitRow LoadRow(const uint8_t* p) {
    SplitRow row;
    Split(p - 2, row.evenLeft, row.oddLeft);
    Split(p, row.even, row.odd);
    Split(p + 2, row.evenRight, row.oddRight);
    return row;
}

// Negative sums become 0; the rounded sixteenth is at most 255.
HWY_INLINE V16 Normalise(V16 sum) {
    const D16 d;
    return hn::Min(hn::Max(hn::ShiftRight<4>(hn::Add(sum, hn::Set(d, 8))), hn::Zero(d)),
                   hn::Set(d, 255));
}

// The three planes of one group (see the top of the file).
struct Planes {
    V16 same;
    V16 green;
    V16 cross;
};

struct Block {
    Planes even;
    Planes odd;
};

// The neighbourhood terms of one group.
struct Terms {
    V16 c, h1, h2, v1, v2, d;
};

// Chroma sites need green and the diagonal kernel; green sites the row and column kernels.
HWY_INLINE Planes ChromaPlanes(const Terms& t) {
    const V16 twoC = hn::Add(t.c, t.c);
    const V16 s2 = hn::Add(t.h2, t.v2);
    const V16 green =
        hn::Sub(hn::ShiftLeft<2>(hn::Add(hn::Add(twoC, t.h1), t.v1)), hn::Add(s2, s2));
    const V16 diagonal =
        hn::Sub(hn::ShiftLeft<2>(hn::Add(hn::Add(twoC, t.c), t.d)), hn::Add(s2, hn::Add(s2, s2)));
    return {t.c, Normalise(green), Normalise(diagonal)};
}

HWY_INLINE Planes GreenPlanes(const Terms& t) {
    const V16 centre =
        hn::Sub(hn::Add(hn::ShiftLeft<3>(t.c), hn::Add(t.c, t.c)), hn::Add(t.d, t.d));
    const V16 row =
        hn::Add(hn::Sub(hn::Add(centre, hn::ShiftLeft<3>(t.h1)), hn::Add(t.h2, t.h2)), t.v2);
    const V16 column =
        hn::Add(hn::Sub(hn::Add(centre, hn::ShiftLeft<3>(t.v1)), hn::Add(t.v2, t.v2)), t.h2);
    return {Normalise(row), t.c, Normalise(column)};
}

// `rows` point at column x0 of the work rows y - 2 .. y + 2.
template <bool kChromaEven>
HWY_INLINE Block Reconstruct(const uint8_t* const (&rows)[5]) {
    V16 upper2Even, upper2Odd, lower2Even, lower2Odd;
    Split(rows[0], upper2Even, upper2Odd);
    Split(rows[4], lower2Even, lower2Odd);
    const SplitRow up = LoadRow(rows[1]);
    const SplitRow mid = LoadRow(rows[2]);
    const SplitRow down = LoadRow(rows[3]);

    // Left and right neighbours: of an even column, the odd columns either side; of an odd
    // column, the even ones.
    const Terms even{mid.even,
                     hn::Add(mid.oddLeft, mid.odd),
                     hn::Add(mid.evenLeft, mid.evenRight),
                     hn::Add(up.even, down.even),
                     hn::Add(upper2Even, lower2Even),
                     hn::Add(hn::Add(up.oddLeft, up.odd), hn::Add(down.oddLeft, down.odd))};
    const Terms odd{mid.odd,
                    hn::Add(mid.even, mid.evenRight),
                    hn::Add(mid.oddLeft, mid.oddRight),
                    hn::Add(up.odd, down.odd),
                    hn::Add(upper2Odd, lower2Odd),
                    hn::Add(hn::Add(up.even, up.evenRight), hn::Add(down.even, down.evenRight))};
    if constexpr (kChromaEven) {
        return {ChromaPlanes(even), GreenPlanes(odd)};
    } else {
        return {GreenPlanes(even), ChromaPlanes(odd)};
    }
}

// Gains per plane, as 2 x min(gain mod 65536, 32767): min(255, (v * g) >> 7) is then
// min(255, mulhigh(v << 8, 2g)). Gains from 32767 up saturate every non-zero value either way.
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
        const uint32_t low = static_cast<uint16_t>(frameGains[inputs[plane]]);
        return hn::Set(du, static_cast<uint16_t>(std::min<uint32_t>(low, 32767) * 2));
    };
    return {gain(0), gain(1), gain(2)};
}

HWY_INLINE V16 ApplyGain(V16 value, VU16 doubledGain) {
    const DU16 du;
    const VU16 scaled = hn::MulHigh(hn::ShiftLeft<8>(hn::BitCast(du, value)), doubledGain);
    return hn::BitCast(D16(), hn::Min(scaled, hn::Set(du, 255)));
}

HWY_INLINE Planes ApplyGains(const Planes& planes, const RowGains& gains) {
    return {ApplyGain(planes.same, gains.same), ApplyGain(planes.green, gains.green),
            ApplyGain(planes.cross, gains.cross)};
}

// Output channels of one group, each 0..255.
struct Rgb {
    V16 red;
    V16 green;
    V16 blue;
};

// The colour matrix when every positive and negative sum stays below 2^16: 16-bit lanes
// throughout. Each product is formed once and masked into the positive sum; the negative sum is
// the total less the positive one.
struct ShortMatrix {
    VU16 magnitude[3][3];  // [output][plane]
    VU16 positiveMask[3][3];
    VU16 positiveConstant[3];
    VU16 constantMagnitude[3];

    explicit ShortMatrix(const RowMatrix& m) {
        const DU16 du;
        for (int k = 0; k < 3; ++k) {
            for (int plane = 0; plane < 3; ++plane) {
                const bool positive = m.positive[k][plane] != 0;
                magnitude[k][plane] = hn::Set(
                    du,
                    static_cast<uint16_t>(positive ? m.positive[k][plane] : m.negative[k][plane]));
                positiveMask[k][plane] = hn::Set(du, positive ? 0xFFFF : 0);
            }
            const uint32_t positiveConstant32 =
                m.positiveRemainder[k] +
                64 * static_cast<uint32_t>(std::max(m.quotientDifference[k], 0));
            const uint32_t negativeConstant32 =
                m.negativeRemainder[k] +
                64 * static_cast<uint32_t>(std::max(-m.quotientDifference[k], 0));
            positiveConstant[k] = hn::Set(du, static_cast<uint16_t>(positiveConstant32));
            constantMagnitude[k] =
                hn::Set(du, static_cast<uint16_t>(positiveConstant32 + negativeConstant32));
        }
    }

    // True when 255 x (sum of one output's coefficient magnitudes) plus its constant fits 16 bits.
    static bool Fits(const ImageProcessor* processor) {
        for (int k = 0; k < 3; ++k) {
            int64_t total = MatrixMagnitude(processor->frameMatrix[12 + k]);
            for (int i = 0; i < 3; ++i)
                total += 255 * MatrixMagnitude(processor->frameMatrix[4 * i + k]);
            if (total > 65535) return false;
        }
        return true;
    }

    HWY_INLINE V16 Output(int k, const VU16 (&in)[3]) const {
        const DU16 du;
        VU16 positive = positiveConstant[k];
        VU16 total = constantMagnitude[k];
        BAYERCAM_UNROLL
        for (int plane = 0; plane < 3; ++plane) {
            const VU16 product = hn::Mul(in[plane], magnitude[k][plane]);
            positive = hn::Add(positive, hn::And(product, positiveMask[k][plane]));
            total = hn::Add(total, product);
        }
        const VU16 negative = hn::Sub(total, positive);
        const VU16 out =
            hn::Min(hn::SaturatedSub(hn::ShiftRight<6>(positive), hn::ShiftRight<6>(negative)),
                    hn::Set(du, 255));
        return hn::BitCast(D16(), out);
    }

    HWY_INLINE Rgb Apply(const Planes& planes) const {
        const DU16 du;
        const VU16 in[3] = {hn::BitCast(du, planes.same), hn::BitCast(du, planes.green),
                            hn::BitCast(du, planes.cross)};
        return {Output(0, in), Output(1, in), Output(2, in)};
    }
};

HWY_INLINE V16 Clamp255(V16 v) {
    const D16 d;
    return hn::Min(hn::Max(v, hn::Zero(d)), hn::Set(d, 255));
}

// The colour matrix with coefficients below 2^15: each sum is two pairwise products of 16-bit
// lanes, (same, green) . (ws, wg) + (cross, 1) . (wc, remainder), in 32-bit lanes.
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
        BAYERCAM_UNROLL
        for (int k = 0; k < 3; ++k) {
            positiveSameGreen[k] = pair(m.positive[k][0], m.positive[k][1]);
            positiveCrossOne[k] = pair(m.positive[k][2], m.positiveRemainder[k]);
            negativeSameGreen[k] = pair(m.negative[k][0], m.negative[k][1]);
            negativeCrossOne[k] = pair(m.negative[k][2], m.negativeRemainder[k]);
            quotientDifference[k] = hn::Set(d32, m.quotientDifference[k]);
        }
    }

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

    // The pairs come from interleaving the lower and the upper lanes of each 128-bit block; the
    // demotion puts the lanes back in order.
    HWY_INLINE Rgb Apply(const Planes& in) const {
        const D16 d;
        const V16 one = hn::Set(d, 1);
        const V16 sameGreenLow = hn::InterleaveLower(d, in.same, in.green);
        const V16 sameGreenHigh = hn::InterleaveUpper(d, in.same, in.green);
        const V16 crossOneLow = hn::InterleaveLower(d, in.cross, one);
        const V16 crossOneHigh = hn::InterleaveUpper(d, in.cross, one);
        V16 out[3];
        BAYERCAM_UNROLL
        for (int k = 0; k < 3; ++k) {
            out[k] = Clamp255(hn::ReorderDemote2To(d, Output(k, sameGreenLow, crossOneLow),
                                                   Output(k, sameGreenHigh, crossOneHigh)));
        }
        return {out[0], out[1], out[2]};
    }
};

// The colour matrix with coefficients up to 2^22: 32-bit products, lanes widened in the same
// order as the pairs above so that the same demotion restores them.
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
        BAYERCAM_UNROLL
        for (int plane = 0; plane < 3; ++plane) {
            p = hn::Add(p, hn::Mul(in[plane], positive[k][plane]));
            n = hn::Add(n, hn::Mul(in[plane], negative[k][plane]));
        }
        const D32 d32;
        return hn::Add(
            hn::Sub(hn::BitCast(d32, hn::ShiftRight<6>(p)), hn::BitCast(d32, hn::ShiftRight<6>(n))),
            quotientDifference[k]);
    }

    HWY_INLINE Rgb Apply(const Planes& in) const {
        const DU32 du32;
        const DU16 du;
        const VU16 zero = hn::Zero(du);
        const V16 planes[3] = {in.same, in.green, in.cross};
        VU32 low[3];
        VU32 high[3];
        BAYERCAM_UNROLL
        for (int plane = 0; plane < 3; ++plane) {
            const VU16 v = hn::BitCast(du, planes[plane]);
            low[plane] = hn::ZipLower(du32, v, zero);
            high[plane] = hn::ZipUpper(du32, v, zero);
        }
        V16 out[3];
        BAYERCAM_UNROLL
        for (int k = 0; k < 3; ++k) {
            out[k] = Clamp255(hn::ReorderDemote2To(D16(), Output(k, low), Output(k, high)));
        }
        return {out[0], out[1], out[2]};
    }
};

// Writes the pixels of a block in column order as blue, green, red, 0xFF: `count` of them, all
// unless the block is the last, partial one of a row, which goes through a scratch block so that
// nothing past the row is written.
HWY_INLINE void StorePixels(const Rgb& even, const Rgb& odd, uint8_t* out, size_t count) {
    const DU16 du;
    const DU32 du32;
    auto zip = [&](const Rgb& c, VU32& low, VU32& high) {
        const VU16 blueGreen =
            hn::Or(hn::BitCast(du, c.blue), hn::ShiftLeft<8>(hn::BitCast(du, c.green)));
        const VU16 redAlpha = hn::Or(hn::BitCast(du, c.red), hn::Set(du, 0xFF00));
        low = hn::ZipLower(du32, blueGreen, redAlpha);
        high = hn::ZipUpper(du32, blueGreen, redAlpha);
    };
    VU32 evenLow, evenHigh, oddLow, oddHigh;
    zip(even, evenLow, evenHigh);
    zip(odd, oddLow, oddHigh);
    // Within each 128-bit block these hold pixels in order.
    VU32 q[4] = {
        hn::InterleaveLower(du32, evenLow, oddLow), hn::InterleaveUpper(du32, evenLow, oddLow),
        hn::InterleaveLower(du32, evenHigh, oddHigh), hn::InterleaveUpper(du32, evenHigh, oddHigh)};
    if constexpr (hn::MaxLanes(du32) * 4 > 16) {
        // Two blocks: the upper blocks hold the second half of the pixels.
        const VU32 p[4] = {q[0], q[1], q[2], q[3]};
        q[0] = hn::ConcatLowerLower(du32, p[1], p[0]);
        q[1] = hn::ConcatLowerLower(du32, p[3], p[2]);
        q[2] = hn::ConcatUpperUpper(du32, p[1], p[0]);
        q[3] = hn::ConcatUpperUpper(du32, p[3], p[2]);
    }
    const size_t lanes = hn::Lanes(du32);
    if (count == 8 * lanes) {
        BAYERCAM_UNROLL
        for (int i = 0; i < 4; ++i) {
            hn::StoreU(q[i], du32, reinterpret_cast<uint32_t*>(out) + i * lanes);
        }
        return;
    }
    HWY_ALIGN uint32_t scratch[kMaxBlockPixels];
    BAYERCAM_UNROLL
    for (int i = 0; i < 4; ++i) hn::Store(q[i], du32, scratch + i * lanes);
    std::memcpy(out, scratch, count * 4);
}

// Runs `handler(block, x0, count)` over the blocks of output row y.
template <bool kChromaEven, class Handler>
HWY_INLINE void ForEachBlock(const ImageProcessor* processor, uint32_t y, Handler& handler) {
    const ptrdiff_t pitch = processor->rowPitch;
    const uint8_t* mid = processor->pixelOrigin + static_cast<ptrdiff_t>(y) * pitch;
    const uint32_t width = processor->frameWidth;
    const size_t blockPixels = 2 * hn::Lanes(D16());
    size_t x = 0;
    for (; x + blockPixels <= width; x += blockPixels) {
        const uint8_t* const rows[5] = {mid - 2 * pitch + x, mid - pitch + x, mid + x,
                                        mid + pitch + x, mid + 2 * pitch + x};
        handler(Reconstruct<kChromaEven>(rows), x, blockPixels);
    }
    if (x >= width) return;
    // The last, partial block reads up to column x + blockPixels + 1; the work buffer's margin
    // is sized for 16-pixel blocks, so a longer block may need its neighbourhood copied first.
    const size_t lastReadable = static_cast<size_t>(pitch) - 6;
    if (x + blockPixels + 1 <= lastReadable) {
        const uint8_t* const rows[5] = {mid - 2 * pitch + x, mid - pitch + x, mid + x,
                                        mid + pitch + x, mid + 2 * pitch + x};
        handler(Reconstruct<kChromaEven>(rows), x, width - x);
        return;
    }
    constexpr size_t kScratchLine = kMaxBlockPixels + 4;
    uint8_t scratch[5][kScratchLine] = {};
    const size_t copied = lastReadable + 1 - (x - 2);
    for (int r = 0; r < 5; ++r) std::memcpy(scratch[r], mid + (r - 2) * pitch + x - 2, copied);
    const uint8_t* const rows[5] = {scratch[0] + 2, scratch[1] + 2, scratch[2] + 2, scratch[3] + 2,
                                    scratch[4] + 2};
    handler(Reconstruct<kChromaEven>(rows), x, width - x);
}

// Visits every row with the handler of its row type (red or blue sites) and its chroma column
// parity: the only per-row decision.
template <class RowHandler>
void ForEachRow(const ImageProcessor* processor, BayerPhase phase, RowHandler& redRows,
                RowHandler& blueRows) {
    const PhaseLayout layout = LayoutOf(phase);
    for (uint32_t y = 0; y < processor->frameHeight; ++y) {
        const bool odd = (y & 1) != 0;
        RowHandler& handler = layout.evenRowRed != odd ? redRows : blueRows;
        handler.StartRow(y);
        if (layout.evenRowChromaEven != odd) {
            ForEachBlock<true>(processor, y, handler);
        } else {
            ForEachBlock<false>(processor, y, handler);
        }
        handler.EndRow();
    }
}

// Output row y starts y * width pixels after outputCursor.
uint8_t* OutputRow(const ImageProcessor* processor, uint32_t y) {
    return processor->outputCursor + size_t{y} * processor->frameWidth * 4;
}

// Output channel k comes from plane inputs-position: red is `same` in a row of red sites.
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
    HWY_INLINE void operator()(const Block& block, size_t x, size_t count) {
        StorePixels(matrix.Apply(ApplyGains(block.even, gains)),
                    matrix.Apply(ApplyGains(block.odd, gains)), out + x * 4, count);
    }
};

template <class Matrix>
void RunColor(ImageProcessor* processor, BayerPhase phase) {
    ColorRows<Matrix> redRows(processor, kRedRowInputs);
    ColorRows<Matrix> blueRows(processor, kBlueRowInputs);
    ForEachRow(processor, phase, redRows, blueRows);
}

void ColorKernel(ImageProcessor* processor, BayerPhase phase) {
    if (ShortMatrix::Fits(processor)) return RunColor<ShortMatrix>(processor, phase);
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

    // Each product is at most 255 x 150 and is divided by 256 on its own.
    HWY_INLINE Rgb Luma(const Planes& planes) const {
        const DU16 du;
        const Planes gained = ApplyGains(planes, gains);
        auto weighted = [&](V16 v, VU16 weight) {
            return hn::ShiftRight<8>(hn::Mul(hn::BitCast(du, v), weight));
        };
        const V16 y = hn::BitCast(D16(), hn::Add(hn::Add(weighted(gained.same, weightSame),
                                                         weighted(gained.green, weightGreen)),
                                                 weighted(gained.cross, weightCross)));
        return {y, y, y};
    }

    void StartRow(uint32_t y) { out = OutputRow(processor, y); }
    void EndRow() {}
    HWY_INLINE void operator()(const Block& block, size_t x, size_t count) {
        StorePixels(Luma(block.even), Luma(block.odd), out + x * 4, count);
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
    HWY_INLINE void Add(const Planes& planes, size_t count) {
        const DU16 du;
        const auto inside = hn::FirstN(du, count);
        const V16 values[3] = {planes.same, planes.green, planes.cross};
        BAYERCAM_UNROLL
        for (int plane = 0; plane < 3; ++plane) {
            sums[plane] =
                hn::Add(sums[plane], hn::IfThenElseZero(inside, hn::BitCast(du, values[plane])));
        }
    }
    // Pixels of the last block beyond the width are not counted: of `count` pixels, the even
    // group holds the first (count + 1) / 2.
    HWY_INLINE void operator()(const Block& block, size_t, size_t count) {
        Add(block.even, (count + 1) / 2);
        Add(block.odd, count / 2);
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
