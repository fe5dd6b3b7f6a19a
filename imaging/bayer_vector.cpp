// Vector forms of the kernels, compiled for each instruction set and chosen at run time. They
// compute exactly what the plain kernels compute, 16, 32 or 64 pixels at a time in 16-bit lanes.
//
// A block of pixels is split by column parity into two groups of lanes. Per pixel the
// reconstruction needs six neighbourhood terms (the centre c; h1, h2: the sums of the neighbours
// one and two columns away; v1, v2: the same for rows; d: the four diagonal neighbours), and
// every kernel of the mosaic is a combination of them:
//   green (x2) = 8c + 4h1 + 4v1 - 2h2 - 2v2      row = 10c + 8h1 - 2h2 - 2d + v2
//   diagonal   = 12c + 4d - 3h2 - 3v2            column = 10c + 8v1 - 2v2 - 2d + h2
// all in sixteenths, so one rounding serves them all ((2T + 8) >> 4 is (T + 4) >> 3). In a row,
// one parity holds chroma sites (red or blue), which need green and the diagonal kernel, and the
// other green sites, which need the row and column kernels; which parity and which chroma colour
// is a per-row choice, never a per-pixel one.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/bayer_kernels.h"
#include "imaging/image_processor.h"
#include "imaging/matrix_split.h"

// Scalable-vector targets are left out: the kernels cap groups at 32 lanes and rely on the
// per-128-bit-block lane order of the fixed-width targets.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128 | HWY_RVV)
#endif

// The newer 512-bit target too, not only the first one: both are chosen where the processor
// has them.
#ifndef HWY_WANT_AVX3_DL
#define HWY_WANT_AVX3_DL
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

// Luminance weights in 1/256 units.
constexpr uint16_t kLumaRed = 77;
constexpr uint16_t kLumaGreen = 150;
constexpr uint16_t kLumaBlue = 29;

// White-balance sums are gathered in 16-bit lanes, which take two values of at most 255 per
// block (one from each column parity); they are moved to the 64-bit totals before a lane could
// overflow.
constexpr uint32_t kBlocksPerFlush = 128;

}  // namespace bayercam::vector_detail

// The small fixed loops over vectors must be unrolled for the vectors to stay in registers.
#define BAYERCAM_UNROLL _Pragma("GCC unroll 16")
#endif  // BAYERCAM_BAYER_VECTOR_SHARED

HWY_BEFORE_NAMESPACE();
namespace bayercam {
namespace HWY_NAMESPACE {

#if HWY_TARGET == HWY_SCALAR || HWY_TARGET == HWY_EMU128

// No vector unit: the plain kernels.
void ColorKernel(const ImageProcessor* processor, BayerPhase phase, const KernelRows& rows) {
    kScalarKernels.convertColorRows(processor, phase, rows);
}
void LumaKernel(const ImageProcessor* processor, BayerPhase phase, const KernelRows& rows) {
    kScalarKernels.convertLumaRows(processor, phase, rows);
}
ChannelSums BalanceKernel(const ImageProcessor* processor, BayerPhase phase, uint32_t first,
                          uint32_t end) {
    return kScalarKernels.balanceSums(processor, phase, first, end);
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

// At most 32 lanes per group, 64 pixels per block.
using D16 = hn::CappedTag<int16_t, 32>;
using DU16 = hn::RebindToUnsigned<D16>;
using DBytes = hn::Repartition<uint8_t, DU16>;
using D32 = hn::Repartition<int32_t, D16>;
using DU32 = hn::RebindToUnsigned<D32>;
using V16 = hn::Vec<D16>;
using VU16 = hn::Vec<DU16>;
using V32 = hn::Vec<D32>;
using VU32 = hn::Vec<DU32>;
constexpr size_t kMaxBlockPixels = 64;
// The last block of a row may read this far past the work buffer's last line.
static_assert(kWorkReadSlack >= kMaxBlockPixels);

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

// A kernel sum in sixteenths that already includes the rounding term 8: negative sums become 0,
// the result is at most 255.
HWY_INLINE V16 Normalise(V16 roundedSum) {
    const D16 d;
    return hn::Min(hn::Max(hn::ShiftRight<4>(roundedSum), hn::Zero(d)), hn::Set(d, 255));
}

// Red, green and blue of one group, each 0..255.
struct Planes {
    V16 red;
    V16 green;
    V16 blue;
};

struct Block {
    Planes even;
    Planes odd;
};

// The neighbourhood terms of one group.
struct Terms {
    V16 c, h1, h2, v1, v2, d;
};

// A row's chroma colour (`same`: red in a row of red sites) and the other one (`cross`) as red
// and blue.
template <bool kRedRow>
HWY_INLINE Planes InOrder(V16 same, V16 green, V16 cross) {
    if constexpr (kRedRow) {
        return {same, green, cross};
    } else {
        return {cross, green, same};
    }
}

// Chroma sites keep their sample and need green and the diagonal kernel. The rounding term 8
// enters both sums as 4 x 2.
template <bool kRedRow>
HWY_INLINE Planes ChromaSites(const Terms& t) {
    const V16 twoC = hn::Add(hn::Add(t.c, t.c), hn::Set(D16(), 2));
    const V16 s2 = hn::Add(t.h2, t.v2);
    const V16 green =
        hn::Sub(hn::ShiftLeft<2>(hn::Add(hn::Add(twoC, t.h1), t.v1)), hn::Add(s2, s2));
    const V16 diagonal =
        hn::Sub(hn::ShiftLeft<2>(hn::Add(hn::Add(twoC, t.c), t.d)), hn::Add(s2, hn::Add(s2, s2)));
    return InOrder<kRedRow>(t.c, Normalise(green), Normalise(diagonal));
}

// Green sites keep their sample; the row kernel gives the row's chroma colour, the column
// kernel the other one. Both share the centre term, which carries the rounding term 8.
template <bool kRedRow>
HWY_INLINE Planes GreenSites(const Terms& t) {
    const V16 centre =
        hn::Add(hn::Sub(hn::Add(hn::ShiftLeft<3>(t.c), hn::Add(t.c, t.c)), hn::Add(t.d, t.d)),
                hn::Set(D16(), 8));
    const V16 row =
        hn::Add(hn::Sub(hn::Add(centre, hn::ShiftLeft<3>(t.h1)), hn::Add(t.h2, t.h2)), t.v2);
    const V16 column =
        hn::Add(hn::Sub(hn::Add(centre, hn::ShiftLeft<3>(t.v1)), hn::Add(t.v2, t.v2)), t.h2);
    return InOrder<kRedRow>(Normalise(row), t.c, Normalise(column));
}

// `rows` point at column x0 of the work rows y - 2 .. y + 2.
template <bool kChromaEven, bool kRedRow>
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
        return {ChromaSites<kRedRow>(even), GreenSites<kRedRow>(odd)};
    } else {
        return {GreenSites<kRedRow>(even), ChromaSites<kRedRow>(odd)};
    }
}

// Each gain as 2 x min(gain mod 65536, 32767): min(255, (v * g) >> 7) is then
// min(255, mulhigh(v << 8, 2g)). From 32767 up, every non-zero value saturates either way.
struct Gains {
    VU16 red;
    VU16 green;
    VU16 blue;

    explicit Gains(const ImageProcessor* processor)
        : red(Doubled(processor->frameRedGain)),
          green(Doubled(processor->frameGreenGain)),
          blue(Doubled(processor->frameBlueGain)) {}

    // All three gains are unity (the default), which changes no value.
    static bool Unity(const ImageProcessor* processor) {
        constexpr int32_t kUnity = 128;
        return static_cast<uint16_t>(processor->frameRedGain) == kUnity &&
               static_cast<uint16_t>(processor->frameGreenGain) == kUnity &&
               static_cast<uint16_t>(processor->frameBlueGain) == kUnity;
    }

    static VU16 Doubled(int32_t gain) {
        const uint32_t low = static_cast<uint16_t>(gain);
        return hn::Set(DU16(), static_cast<uint16_t>(std::min<uint32_t>(low, 32767) * 2));
    }

    static HWY_INLINE V16 Apply(V16 value, VU16 doubledGain) {
        const DU16 du;
        const VU16 scaled = hn::MulHigh(hn::ShiftLeft<8>(hn::BitCast(du, value)), doubledGain);
        return hn::BitCast(D16(), hn::Min(scaled, hn::Set(du, 255)));
    }

    template <bool kUnity>
    HWY_INLINE Planes Apply(const Planes& planes) const {
        if constexpr (kUnity) return planes;
        return {Apply(planes.red, red), Apply(planes.green, green), Apply(planes.blue, blue)};
    }
};

// The 512-bit targets with byte permutes store pixels through saturating packs, which clamp
// every channel to 0..255 on the way: their matrix outputs skip the clamp of their own.
#if HWY_TARGET <= HWY_AVX3_DL
constexpr bool kStoreSaturates = true;
#else
constexpr bool kStoreSaturates = false;
#endif

// A matrix output clamped to 0..255, or left to the store to clamp.
HWY_INLINE V16 Clamp255(V16 v) {
    if constexpr (kStoreSaturates) return v;
    const D16 d;
    return hn::Min(hn::Max(v, hn::Zero(d)), hn::Set(d, 255));
}

// out = min(255, max(0, (P >> 6) - (N >> 6))) for sums below 2^16 (the min left to the store
// where it saturates).
HWY_INLINE V16 ShortOutput(VU16 positive, VU16 negative) {
    const DU16 du;
    const VU16 out = hn::SaturatedSub(hn::ShiftRight<6>(positive), hn::ShiftRight<6>(negative));
    if constexpr (kStoreSaturates) return hn::BitCast(D16(), out);
    return hn::BitCast(D16(), hn::Min(out, hn::Set(du, 255)));
}

// The matrix of colour correction and its scalings (only the diagonal coefficients positive),
// with sums below 2^16: the positive sum is one product, and the constant terms are added only
// when there are any (kConstants).
template <bool kConstants>
struct DiagonalMatrix {
    VU16 diagonal[3];
    VU16 negative[3][3];  // [output][input], the diagonal entry unused
    VU16 positiveConstant[3];
    VU16 negativeConstant[3];

    explicit DiagonalMatrix(const MatrixSplit& m) {
        const DU16 du;
        for (int k = 0; k < 3; ++k) {
            diagonal[k] = hn::Set(du, static_cast<uint16_t>(m.positive[k][k]));
            for (int i = 0; i < 3; ++i) {
                negative[k][i] = hn::Set(du, static_cast<uint16_t>(m.negative[k][i]));
            }
            positiveConstant[k] = hn::Set(du, static_cast<uint16_t>(m.positiveConstant[k]));
            negativeConstant[k] = hn::Set(du, static_cast<uint16_t>(m.negativeConstant[k]));
        }
    }

    template <int k>
    HWY_INLINE V16 Output(const VU16 (&in)[3]) const {
        constexpr int a = (k + 1) % 3;
        constexpr int b = (k + 2) % 3;
        VU16 positiveSum = hn::Mul(in[k], diagonal[k]);
        VU16 negativeSum = hn::Add(hn::Mul(in[a], negative[k][a]), hn::Mul(in[b], negative[k][b]));
        if constexpr (kConstants) {
            positiveSum = hn::Add(positiveSum, positiveConstant[k]);
            negativeSum = hn::Add(negativeSum, negativeConstant[k]);
        }
        return ShortOutput(positiveSum, negativeSum);
    }

    HWY_INLINE Planes Apply(const Planes& planes) const {
        const DU16 du;
        const VU16 in[3] = {hn::BitCast(du, planes.red), hn::BitCast(du, planes.green),
                            hn::BitCast(du, planes.blue)};
        return {Output<0>(in), Output<1>(in), Output<2>(in)};
    }
};

// Any matrix whose sums stay below 2^16. Each product is formed once and masked into the
// positive sum; the negative sum is the total less the positive one.
struct ShortMatrix {
    VU16 magnitude[3][3];  // [output][input]
    VU16 positiveMask[3][3];
    VU16 positiveConstant[3];
    VU16 constantMagnitude[3];

    explicit ShortMatrix(const MatrixSplit& m) {
        const DU16 du;
        for (int k = 0; k < 3; ++k) {
            for (int i = 0; i < 3; ++i) {
                const bool positive = m.positive[k][i] != 0;
                magnitude[k][i] =
                    hn::Set(du, static_cast<uint16_t>(m.positive[k][i] + m.negative[k][i]));
                positiveMask[k][i] = hn::Set(du, positive ? 0xFFFF : 0);
            }
            positiveConstant[k] = hn::Set(du, static_cast<uint16_t>(m.positiveConstant[k]));
            constantMagnitude[k] =
                hn::Set(du, static_cast<uint16_t>(m.positiveConstant[k] + m.negativeConstant[k]));
        }
    }

    HWY_INLINE V16 Output(int k, const VU16 (&in)[3]) const {
        VU16 positive = positiveConstant[k];
        VU16 total = constantMagnitude[k];
        BAYERCAM_UNROLL
        for (int i = 0; i < 3; ++i) {
            const VU16 product = hn::Mul(in[i], magnitude[k][i]);
            positive = hn::Add(positive, hn::And(product, positiveMask[k][i]));
            total = hn::Add(total, product);
        }
        return ShortOutput(positive, hn::Sub(total, positive));
    }

    HWY_INLINE Planes Apply(const Planes& planes) const {
        const DU16 du;
        const VU16 in[3] = {hn::BitCast(du, planes.red), hn::BitCast(du, planes.green),
                            hn::BitCast(du, planes.blue)};
        return {Output(0, in), Output(1, in), Output(2, in)};
    }
};

// The constant term of the 32-bit forms is split as 64q + r, added before (r) and after (q)
// the division: (S + 64q + r) >> 6 == ((S + r) >> 6) + q.
struct ConstantParts {
    uint32_t positiveRemainder;
    uint32_t negativeRemainder;
    int32_t quotientDifference;

    ConstantParts(const MatrixSplit& m, int k)
        : positiveRemainder(m.positiveConstant[k] & 63),
          negativeRemainder(m.negativeConstant[k] & 63),
          quotientDifference(static_cast<int32_t>(m.positiveConstant[k] >> 6) -
                             static_cast<int32_t>(m.negativeConstant[k] >> 6)) {}
};

// Coefficients below 2^15: each sum is two pairwise products of 16-bit lanes,
// (red, green) . (wr, wg) + (blue, 1) . (wb, remainder), in 32-bit lanes.
struct PairsMatrix {
    V16 positiveRedGreen[3];
    V16 positiveBlueOne[3];
    V16 negativeRedGreen[3];
    V16 negativeBlueOne[3];
    V32 quotientDifference[3];

    explicit PairsMatrix(const MatrixSplit& m) {
        const D32 d32;
        auto pair = [&](uint32_t low, uint32_t high) {
            return hn::BitCast(D16(), hn::Set(d32, static_cast<int32_t>(low | (high << 16))));
        };
        for (int k = 0; k < 3; ++k) {
            const ConstantParts constant(m, k);
            positiveRedGreen[k] = pair(m.positive[k][0], m.positive[k][1]);
            positiveBlueOne[k] = pair(m.positive[k][2], constant.positiveRemainder);
            negativeRedGreen[k] = pair(m.negative[k][0], m.negative[k][1]);
            negativeBlueOne[k] = pair(m.negative[k][2], constant.negativeRemainder);
            quotientDifference[k] = hn::Set(d32, constant.quotientDifference);
        }
    }

    HWY_INLINE V32 DotPairs(V16 redGreen, V16 blueOne, V16 weightsRedGreen,
                            V16 weightsBlueOne) const {
        const D32 d32;
        V32 sum1 = hn::Zero(d32);
        V32 sum0 =
            hn::ReorderWidenMulAccumulate(d32, redGreen, weightsRedGreen, hn::Zero(d32), sum1);
        sum0 = hn::ReorderWidenMulAccumulate(d32, blueOne, weightsBlueOne, sum0, sum1);
        return hn::RearrangeToOddPlusEven(sum0, sum1);
    }

    HWY_INLINE V32 Output(int k, V16 redGreen, V16 blueOne) const {
        const V32 positive = DotPairs(redGreen, blueOne, positiveRedGreen[k], positiveBlueOne[k]);
        const V32 negative = DotPairs(redGreen, blueOne, negativeRedGreen[k], negativeBlueOne[k]);
        return hn::Add(hn::Sub(hn::ShiftRight<6>(positive), hn::ShiftRight<6>(negative)),
                       quotientDifference[k]);
    }

    // The pairs come from interleaving the lower and the upper lanes of each 128-bit block; the
    // demotion puts the lanes back in order.
    HWY_INLINE Planes Apply(const Planes& in) const {
        const D16 d;
        const V16 one = hn::Set(d, 1);
        const V16 redGreenLow = hn::InterleaveLower(d, in.red, in.green);
        const V16 redGreenHigh = hn::InterleaveUpper(d, in.red, in.green);
        const V16 blueOneLow = hn::InterleaveLower(d, in.blue, one);
        const V16 blueOneHigh = hn::InterleaveUpper(d, in.blue, one);
        V16 out[3];
        BAYERCAM_UNROLL
        for (int k = 0; k < 3; ++k) {
            out[k] = Clamp255(hn::ReorderDemote2To(d, Output(k, redGreenLow, blueOneLow),
                                                   Output(k, redGreenHigh, blueOneHigh)));
        }
        return {out[0], out[1], out[2]};
    }
};

// Coefficients up to 2^22: 32-bit products, lanes widened in the same order as the pairs
// above so that the same demotion restores them.
struct WideMatrix {
    VU32 positive[3][3];
    VU32 negative[3][3];
    VU32 positiveRemainder[3];
    VU32 negativeRemainder[3];
    V32 quotientDifference[3];

    explicit WideMatrix(const MatrixSplit& m) {
        const DU32 du32;
        for (int k = 0; k < 3; ++k) {
            const ConstantParts constant(m, k);
            for (int i = 0; i < 3; ++i) {
                positive[k][i] = hn::Set(du32, m.positive[k][i]);
                negative[k][i] = hn::Set(du32, m.negative[k][i]);
            }
            positiveRemainder[k] = hn::Set(du32, constant.positiveRemainder);
            negativeRemainder[k] = hn::Set(du32, constant.negativeRemainder);
            quotientDifference[k] = hn::Set(D32(), constant.quotientDifference);
        }
    }

    HWY_INLINE V32 Output(int k, const VU32 (&in)[3]) const {
        VU32 p = positiveRemainder[k];
        VU32 n = negativeRemainder[k];
        BAYERCAM_UNROLL
        for (int i = 0; i < 3; ++i) {
            p = hn::Add(p, hn::Mul(in[i], positive[k][i]));
            n = hn::Add(n, hn::Mul(in[i], negative[k][i]));
        }
        const D32 d32;
        return hn::Add(
            hn::Sub(hn::BitCast(d32, hn::ShiftRight<6>(p)), hn::BitCast(d32, hn::ShiftRight<6>(n))),
            quotientDifference[k]);
    }

    HWY_INLINE Planes Apply(const Planes& in) const {
        const DU32 du32;
        const DU16 du;
        const VU16 zero = hn::Zero(du);
        const V16 planes[3] = {in.red, in.green, in.blue};
        VU32 low[3];
        VU32 high[3];
        BAYERCAM_UNROLL
        for (int i = 0; i < 3; ++i) {
            const VU16 v = hn::BitCast(du, planes[i]);
            low[i] = hn::ZipLower(du32, v, zero);
            high[i] = hn::ZipUpper(du32, v, zero);
        }
        V16 out[3];
        BAYERCAM_UNROLL
        for (int k = 0; k < 3; ++k) {
            out[k] = Clamp255(hn::ReorderDemote2To(D16(), Output(k, low), Output(k, high)));
        }
        return {out[0], out[1], out[2]};
    }
};

#if HWY_TARGET <= HWY_AVX3_DL
// Byte indexes for the two-table byte permutes of PixelsInOrder. The saturating packs of the
// even and the odd group leave pixel p's byte at index 16 (p / 16) + 8 (p % 2) + (p / 2) % 8 of
// each channel. half[h] gathers the words that the two word interleaves turn into q[2h] and
// q[2h + 1]: word i of 128-bit block b feeds pixel 32h + 4b + i (i < 4) or 32h + 16 + 4b + i - 4;
// each word takes the pixel's byte from the first table and then from the second.
struct PixelTables {
    alignas(64) uint8_t half[2][64];
};

constexpr PixelTables MakePixelTables(bool mirror) {
    PixelTables tables{};
    for (int h = 0; h < 2; ++h) {
        for (int word = 0; word < 32; ++word) {
            const int block = word / 8;
            const int i = word % 8;
            const int column = 32 * h + (i < 4 ? 4 * block + i : 16 + 4 * block + i - 4);
            const int p = mirror ? 63 - column : column;
            const int source = 16 * (p / 16) + 8 * (p % 2) + (p / 2) % 8;
            tables.half[h][2 * word] = static_cast<uint8_t>(source);
            tables.half[h][2 * word + 1] = static_cast<uint8_t>(64 + source);
        }
    }
    return tables;
}

inline constexpr PixelTables kPixelTables[2] = {MakePixelTables(false), MakePixelTables(true)};
#endif

// The pixels of a block as 32-bit words (blue, green, red, 0xFF from the lowest byte), in column
// order over q[0] .. q[3], or mirrored: the last column first.
HWY_INLINE void PixelsInOrder(const Planes& even, const Planes& odd, bool mirror, VU32 (&q)[4]) {
    const DU32 du32;
#if HWY_TARGET <= HWY_AVX3_DL
    if constexpr (hn::MaxLanes(du32) == 16) {
        // Each channel saturated to bytes, both groups in one vector; blue with green and red
        // with 0xFF gathered into words in pixel order; the words interleaved into pixels.
        const __m512i blue = _mm512_packus_epi16(even.blue.raw, odd.blue.raw);
        const __m512i green = _mm512_packus_epi16(even.green.raw, odd.green.raw);
        const __m512i red = _mm512_packus_epi16(even.red.raw, odd.red.raw);
        const __m512i opaque = _mm512_set1_epi8(-1);
        const PixelTables& tables = kPixelTables[mirror ? 1 : 0];
        BAYERCAM_UNROLL
        for (int h = 0; h < 2; ++h) {
            const __m512i order = _mm512_load_si512(tables.half[h]);
            const __m512i blueGreen = _mm512_permutex2var_epi8(blue, order, green);
            const __m512i redAlpha = _mm512_permutex2var_epi8(red, order, opaque);
            q[2 * h] = VU32{_mm512_unpacklo_epi16(blueGreen, redAlpha)};
            q[2 * h + 1] = VU32{_mm512_unpackhi_epi16(blueGreen, redAlpha)};
        }
        return;
    }
#endif
    const DU16 du;
    auto pack = [&](const Planes& c, VU16& blueGreen, VU16& redAlpha) {
        blueGreen = hn::Or(hn::BitCast(du, c.blue), hn::ShiftLeft<8>(hn::BitCast(du, c.green)));
        redAlpha = hn::Or(hn::BitCast(du, c.red), hn::Set(du, 0xFF00));
    };
    VU16 evenBlueGreen, evenRedAlpha, oddBlueGreen, oddRedAlpha;
    pack(even, evenBlueGreen, evenRedAlpha);
    pack(odd, oddBlueGreen, oddRedAlpha);
#if HWY_TARGET <= HWY_AVX3
    if constexpr (hn::MaxLanes(du32) == 16) {
        // Two-table permutes across the whole vector: the word pairs into pixels of one parity,
        // then the two parities into column order.
        alignas(64) static constexpr uint16_t kLowerPixels[32] = {
            0, 32, 1, 33, 2,  34, 3,  35, 4,  36, 5,  37, 6,  38, 7,  39,
            8, 40, 9, 41, 10, 42, 11, 43, 12, 44, 13, 45, 14, 46, 15, 47};
        alignas(64) static constexpr uint16_t kUpperPixels[32] = {
            16, 48, 17, 49, 18, 50, 19, 51, 20, 52, 21, 53, 22, 54, 23, 55,
            24, 56, 25, 57, 26, 58, 27, 59, 28, 60, 29, 61, 30, 62, 31, 63};
        alignas(64) static constexpr uint32_t kFirstColumns[16] = {0, 16, 1, 17, 2, 18, 3, 19,
                                                                   4, 20, 5, 21, 6, 22, 7, 23};
        alignas(64) static constexpr uint32_t kNextColumns[16] = {8,  24, 9,  25, 10, 26, 11, 27,
                                                                  12, 28, 13, 29, 14, 30, 15, 31};
        const __m512i lowerPixels = _mm512_load_si512(kLowerPixels);
        const __m512i upperPixels = _mm512_load_si512(kUpperPixels);
        const __m512i firstColumns = _mm512_load_si512(kFirstColumns);
        const __m512i nextColumns = _mm512_load_si512(kNextColumns);
        auto pixels = [](VU16 blueGreen, const __m512i& order, VU16 redAlpha) {
            return _mm512_permutex2var_epi16(blueGreen.raw, order, redAlpha.raw);
        };
        const __m512i evenLower = pixels(evenBlueGreen, lowerPixels, evenRedAlpha);
        const __m512i evenUpper = pixels(evenBlueGreen, upperPixels, evenRedAlpha);
        const __m512i oddLower = pixels(oddBlueGreen, lowerPixels, oddRedAlpha);
        const __m512i oddUpper = pixels(oddBlueGreen, upperPixels, oddRedAlpha);
        q[0] = VU32{_mm512_permutex2var_epi32(evenLower, firstColumns, oddLower)};
        q[1] = VU32{_mm512_permutex2var_epi32(evenLower, nextColumns, oddLower)};
        q[2] = VU32{_mm512_permutex2var_epi32(evenUpper, firstColumns, oddUpper)};
        q[3] = VU32{_mm512_permutex2var_epi32(evenUpper, nextColumns, oddUpper)};
        return;
    }
#endif
    const VU32 evenLow = hn::ZipLower(du32, evenBlueGreen, evenRedAlpha);
    const VU32 evenHigh = hn::ZipUpper(du32, evenBlueGreen, evenRedAlpha);
    const VU32 oddLow = hn::ZipLower(du32, oddBlueGreen, oddRedAlpha);
    const VU32 oddHigh = hn::ZipUpper(du32, oddBlueGreen, oddRedAlpha);
    // Within each 128-bit block these hold pixels in order.
    q[0] = hn::InterleaveLower(du32, evenLow, oddLow);
    q[1] = hn::InterleaveUpper(du32, evenLow, oddLow);
    q[2] = hn::InterleaveLower(du32, evenHigh, oddHigh);
    q[3] = hn::InterleaveUpper(du32, evenHigh, oddHigh);
    if constexpr (hn::MaxLanes(du32) == 8) {
        // Two blocks: the upper blocks hold the second half of the pixels.
        const VU32 p[4] = {q[0], q[1], q[2], q[3]};
        q[0] = hn::ConcatLowerLower(du32, p[1], p[0]);
        q[1] = hn::ConcatLowerLower(du32, p[3], p[2]);
        q[2] = hn::ConcatUpperUpper(du32, p[1], p[0]);
        q[3] = hn::ConcatUpperUpper(du32, p[3], p[2]);
    }
    if (mirror) {
        const VU32 p[4] = {q[0], q[1], q[2], q[3]};
        BAYERCAM_UNROLL
        for (int i = 0; i < 4; ++i) q[i] = hn::Reverse(du32, p[3 - i]);
    }
}

// Writes the pixels of a block as blue, green, red, 0xFF: `count` of them, all unless the block
// is the last, partial one of a row, which goes through a scratch block so that nothing past the
// row is written. In column order at `out`, or mirrored: the last pixel at `out`.
HWY_INLINE void StorePixels(const Planes& even, const Planes& odd, uint8_t* out, size_t count,
                            bool mirror) {
    const DU32 du32;
    VU32 q[4];
    PixelsInOrder(even, odd, mirror, q);
    const size_t lanes = hn::Lanes(du32);
    // Scratch pixels before the first one stored.
    const size_t skipped = mirror ? 4 * lanes - count : 0;
    if (count == 4 * lanes) {
        BAYERCAM_UNROLL
        for (int i = 0; i < 4; ++i) {
            hn::StoreU(q[i], du32, reinterpret_cast<uint32_t*>(out) + i * lanes);
        }
        return;
    }
    HWY_ALIGN uint32_t scratch[kMaxBlockPixels];
    BAYERCAM_UNROLL
    for (int i = 0; i < 4; ++i) hn::Store(q[i], du32, scratch + i * lanes);
    std::memcpy(out, scratch + skipped, count * 4);
}

// Runs `handler(block, x0, count)` over the blocks of the first `width` pixels of row y.
template <bool kChromaEven, bool kRedRow, class Handler>
HWY_INLINE void ForEachBlock(const ImageProcessor* processor, uint32_t y, uint32_t width,
                             Handler& handler) {
    const ptrdiff_t pitch = processor->rowPitch;
    const uint8_t* mid = processor->pixelOrigin + static_cast<ptrdiff_t>(y) * pitch;
    const size_t blockPixels = 2 * hn::Lanes(D16());
    size_t x = 0;
    for (; x + blockPixels <= width; x += blockPixels) {
        const uint8_t* const rows[5] = {mid - 2 * pitch + x, mid - pitch + x, mid + x,
                                        mid + pitch + x, mid + 2 * pitch + x};
        handler(Reconstruct<kChromaEven, kRedRow>(rows), x, blockPixels);
    }
    if (x >= width) return;
    // The last, partial block reads up to column x + blockPixels + 1: into the next line, or
    // past the last one into the buffer's slack.
    const uint8_t* const rows[5] = {mid - 2 * pitch + x, mid - pitch + x, mid + x, mid + pitch + x,
                                    mid + 2 * pitch + x};
    handler(Reconstruct<kChromaEven, kRedRow>(rows), x, width - x);
}

// Visits rows first .. end - 1 with the reconstruction of their row type (red or blue sites,
// chroma sites in even or odd columns): the only per-row decision.
template <class Handler>
void ForEachRow(const ImageProcessor* processor, BayerPhase phase, uint32_t first, uint32_t end,
                uint32_t width, Handler& handler) {
    const PhaseLayout layout = LayoutOf(phase);
    for (uint32_t y = first; y < end; ++y) {
        const bool odd = (y & 1) != 0;
        const bool redRow = layout.evenRowRed != odd;
        const bool chromaEven = layout.evenRowChromaEven != odd;
        handler.StartRow(y);
        if (chromaEven) {
            redRow ? ForEachBlock<true, true>(processor, y, width, handler)
                   : ForEachBlock<true, false>(processor, y, width, handler);
        } else {
            redRow ? ForEachBlock<false, true>(processor, y, width, handler)
                   : ForEachBlock<false, false>(processor, y, width, handler);
        }
        handler.EndRow();
    }
}

// Where the blocks of a row go.
struct RowOutput {
    const KernelRows& rows;
    uint8_t* row = nullptr;

    void StartRow(uint32_t y) {
        row = rows.image.rowZero + static_cast<ptrdiff_t>(y) * rows.image.pitch;
    }
    void EndRow() {}
    HWY_INLINE void Store(const Planes& even, const Planes& odd, size_t x, size_t count) const {
        const size_t column = rows.image.mirror ? rows.image.width - x - count : x;
        StorePixels(even, odd, row + column * 4, count, rows.image.mirror);
    }
};

template <class Matrix, bool kUnityGains>
struct ColorRows : RowOutput {
    Gains gains;
    Matrix matrix;

    ColorRows(const ImageProcessor* p, const KernelRows& r, const MatrixSplit& split)
        : RowOutput{r}, gains(p), matrix(split) {}

    HWY_INLINE void operator()(const Block& block, size_t x, size_t count) {
        Store(matrix.Apply(gains.template Apply<kUnityGains>(block.even)),
              matrix.Apply(gains.template Apply<kUnityGains>(block.odd)), x, count);
    }
};

template <class Matrix>
void RunColor(const ImageProcessor* processor, BayerPhase phase, const KernelRows& rows,
              const MatrixSplit& split) {
    if (Gains::Unity(processor)) {
        ColorRows<Matrix, true> handler(processor, rows, split);
        ForEachRow(processor, phase, rows.first, rows.end, rows.image.width, handler);
    } else {
        ColorRows<Matrix, false> handler(processor, rows, split);
        ForEachRow(processor, phase, rows.first, rows.end, rows.image.width, handler);
    }
}

void ColorKernel(const ImageProcessor* processor, BayerPhase phase, const KernelRows& rows) {
    const MatrixSplit split = SplitFrameMatrix(processor);
    switch (ChooseMatrixForm(split)) {
        case MatrixForm::kDiagonal16:
            // Without brightness or contrast the constant terms are 0, and their additions go.
            if (split.positiveConstant[0] == 0 && split.positiveConstant[1] == 0 &&
                split.positiveConstant[2] == 0 && split.negativeConstant[0] == 0 &&
                split.negativeConstant[1] == 0 && split.negativeConstant[2] == 0) {
                return RunColor<DiagonalMatrix<false> >(processor, phase, rows, split);
            }
            return RunColor<DiagonalMatrix<true> >(processor, phase, rows, split);
        case MatrixForm::kShort16:
            return RunColor<ShortMatrix>(processor, phase, rows, split);
        case MatrixForm::kPairs:
            return RunColor<PairsMatrix>(processor, phase, rows, split);
        case MatrixForm::kWide:
            return RunColor<WideMatrix>(processor, phase, rows, split);
        case MatrixForm::kExact:
            break;
    }
    kScalarKernels.convertColorRows(processor, phase, rows);
}

struct LumaRows : RowOutput {
    Gains gains;

    LumaRows(const ImageProcessor* p, const KernelRows& r) : RowOutput{r}, gains(p) {}

    // Each product is at most 255 x 150 and is divided by 256 on its own.
    HWY_INLINE Planes Luma(const Planes& planes) const {
        const DU16 du;
        const Planes gained = gains.Apply<false>(planes);
        auto weighted = [&](V16 v, uint16_t weight) {
            return hn::ShiftRight<8>(hn::Mul(hn::BitCast(du, v), hn::Set(du, weight)));
        };
        const V16 y = hn::BitCast(D16(), hn::Add(hn::Add(weighted(gained.red, kLumaRed),
                                                         weighted(gained.green, kLumaGreen)),
                                                 weighted(gained.blue, kLumaBlue)));
        return {y, y, y};
    }

    HWY_INLINE void operator()(const Block& block, size_t x, size_t count) {
        Store(Luma(block.even), Luma(block.odd), x, count);
    }
};

void LumaKernel(const ImageProcessor* processor, BayerPhase phase, const KernelRows& rows) {
    LumaRows handler(processor, rows);
    ForEachRow(processor, phase, rows.first, rows.end, rows.image.width, handler);
}

struct BalanceRows {
    uint64_t totals[3] = {0, 0, 0};  // red, green, blue
    VU16 sums[3];
    uint32_t blocks = 0;

    BalanceRows() {
        for (VU16& sum : sums) sum = hn::Zero(DU16());
    }

    void StartRow(uint32_t) {}
    void EndRow() { Flush(); }
    void Flush() {
        const DU32 du32;
        const hn::Half<DU16> half;
        for (int c = 0; c < 3; ++c) {
            const VU32 wide = hn::Add(hn::PromoteTo(du32, hn::LowerHalf(half, sums[c])),
                                      hn::PromoteTo(du32, hn::UpperHalf(half, sums[c])));
            totals[c] += hn::GetLane(hn::SumOfLanes(du32, wide));
            sums[c] = hn::Zero(DU16());
        }
        blocks = 0;
    }
    HWY_INLINE void Add(const Planes& planes) {
        const DU16 du;
        sums[0] = hn::Add(sums[0], hn::BitCast(du, planes.red));
        sums[1] = hn::Add(sums[1], hn::BitCast(du, planes.green));
        sums[2] = hn::Add(sums[2], hn::BitCast(du, planes.blue));
    }
    // The lanes of `planes` beyond `count` are dropped.
    static HWY_INLINE Planes FirstLanes(const Planes& planes, size_t count) {
        const auto inside = hn::FirstN(D16(), count);
        return {hn::IfThenElseZero(inside, planes.red), hn::IfThenElseZero(inside, planes.green),
                hn::IfThenElseZero(inside, planes.blue)};
    }
    HWY_INLINE void operator()(const Block& block, size_t, size_t count) {
        if (count == 2 * hn::Lanes(D16())) {
            Add(block.even);
            Add(block.odd);
        } else {
            // Pixels of the last block beyond the width are not counted: of `count` pixels, the
            // even group holds the first (count + 1) / 2.
            Add(FirstLanes(block.even, (count + 1) / 2));
            Add(FirstLanes(block.odd, count / 2));
        }
        if (++blocks == kBlocksPerFlush) Flush();
    }
};

ChannelSums BalanceKernel(const ImageProcessor* processor, BayerPhase phase, uint32_t first,
                          uint32_t end) {
    BalanceRows rows;
    ForEachRow(processor, phase, first, end, processor->frameWidth, rows);
    return {rows.totals[0], rows.totals[1], rows.totals[2]};
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
HWY_EXPORT(BalanceKernel);
HWY_EXPORT(ExpandBytes);

namespace {

void ConvertColorRows(const ImageProcessor* processor, BayerPhase phase, const KernelRows& rows) {
    HWY_DYNAMIC_DISPATCH(ColorKernel)(processor, phase, rows);
}
void ConvertLumaRows(const ImageProcessor* processor, BayerPhase phase, const KernelRows& rows) {
    HWY_DYNAMIC_DISPATCH(LumaKernel)(processor, phase, rows);
}
ChannelSums BalanceSums(const ImageProcessor* processor, BayerPhase phase, uint32_t first,
                        uint32_t end) {
    return HWY_DYNAMIC_DISPATCH(BalanceKernel)(processor, phase, first, end);
}

}  // namespace

const BayerKernelSet kVectorKernels = {ConvertColorRows, ConvertLumaRows, BalanceSums};

void ConvertColorKernel(ImageProcessor* processor, BayerPhase phase) {
    kVectorKernels.convertColor(processor, phase);
}
void ConvertLumaKernel(ImageProcessor* processor, BayerPhase phase) {
    kVectorKernels.convertLuma(processor, phase);
}
void ComputeWhiteBalance(ImageProcessor* processor, BayerPhase phase) {
    kVectorKernels.computeWhiteBalance(processor, phase);
}
void ExpandBytesToBgra(const uint8_t* source, uint8_t* destination, size_t count) {
    HWY_DYNAMIC_DISPATCH(ExpandBytes)(source, destination, count);
}

int64_t VectorKernelTargets() {
    return HWY_TARGETS;
}

const char* VectorKernelTarget() {
    // The dispatch settles on the best target at the first call; ask it the same way.
    return hwy::TargetName(hwy::SupportedAndGeneratedTargets()[0]);
}

}  // namespace bayercam
#endif  // HWY_ONCE
