// Worked examples of the reconstruction, gain, matrix and luminance steps, each run through the
// plain and the vector kernels.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>

#include "imaging/bayer_kernels.h"
#include "imaging_fixture.h"

namespace bayercam::test {
namespace {

using Bgra = std::array<uint8_t, 4>;

Bgra PixelAt(const SizedProcessor& processor, uint32_t x, uint32_t y) {
    const uint8_t* p = processor.Pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}

class KernelExamples : public ::testing::TestWithParam<NamedKernels> {
  protected:
    const BayerKernelSet& kernels() const { return *GetParam().kernels; }
};

INSTANTIATE_TEST_SUITE_P(BothSets, KernelExamples, ::testing::ValuesIn(kBothKernelSets),
                         [](const auto& info) { return std::string(info.param.name); });

// The neighbourhood of the worked example, rows top to bottom.
constexpr uint8_t kNeighbourhood[5][5] = {{231, 238, 231, 97, 94},
                                          {243, 95, 48, 228, 155},
                                          {72, 46, 21, 202, 231},
                                          {80, 7, 32, 30, 18},
                                          {97, 123, 15, 237, 167}};

// A 32 x 16 frame of noise with the neighbourhood centred on (cx, cy).
RawFrame FrameWithNeighbourhood(uint32_t cx, uint32_t cy) {
    std::mt19937 random(7);
    RawFrame frame = RandomFrame(32, 16, random);
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx)
            frame.at(cx + dx, cy + dy) = kNeighbourhood[dy + 2][dx + 2];
    }
    return frame;
}

constexpr int32_t kExampleMatrix[16] = {80, -8, 0, 0, -16, 72, -8, 0, 0, -8, 88, 0, 128, 0, -64, 0};

TEST_P(KernelExamples, GreenSiteInRedRowWithGainsAndMatrix) {
    SizedProcessor processor(32, 16);
    processor.Pad(FrameWithNeighbourhood(9, 6));  // RGGB: even row, odd column is green
    processor.SetFrameGains(192, 128, 96);
    processor.SetFrameMatrix(kExampleMatrix);
    kernels().convertColor(processor.get(), BayerPhase::RGGB);
    EXPECT_EQ(PixelAt(processor, 9, 6), (Bgra{0, 10, 128, 255}));

    // Luminance of the gained 105, 21, 0.
    kernels().convertLuma(processor.get(), BayerPhase::RGGB);
    EXPECT_EQ(PixelAt(processor, 9, 6), (Bgra{43, 43, 43, 255}));
}

TEST_P(KernelExamples, ReconstructionAtGreenAndRedSites) {
    struct Case {
        uint32_t x;
        uint32_t y;
        Bgra expected;
    };
    // Green site in a row of red sites: row kernel 1114 -> red 70, column kernel -59 -> blue 0.
    // Red site: green kernel 191 -> 24, diagonal kernel 45 -> blue 3.
    for (const Case& c : {Case{9, 6, {0, 21, 70, 255}}, Case{10, 6, {3, 24, 21, 255}}}) {
        SizedProcessor processor(32, 16);
        processor.Pad(FrameWithNeighbourhood(c.x, c.y));
        processor.SetFrameGains(128, 128, 128);
        processor.SetFrameMatrix(kIdentityMatrix);
        kernels().convertColor(processor.get(), BayerPhase::RGGB);
        EXPECT_EQ(PixelAt(processor, c.x, c.y), c.expected) << c.x;
    }
}

TEST_P(KernelExamples, FlatMosaicGivesItsColoursEverywhereForEveryPhase) {
    for (BayerPhase phase : kAllPhases) {
        for (auto [width, height] : {std::pair{16u, 8u}, std::pair{17u, 9u}, std::pair{40u, 11u}}) {
            SizedProcessor processor(width, height);
            processor.Pad(MosaicFrame(width, height, phase, 200, 100, 50));
            processor.SetFrameGains(128, 128, 128);
            processor.SetFrameMatrix(kIdentityMatrix);
            kernels().convertColor(processor.get(), phase);
            for (uint32_t y = 0; y < height; ++y) {
                for (uint32_t x = 0; x < width; ++x) {
                    ASSERT_EQ(PixelAt(processor, x, y), (Bgra{50, 100, 200, 255}))
                        << "phase " << static_cast<int>(phase) << " at " << x << "," << y;
                }
            }
        }
    }
}

// Raising one site of a flat field of 100 by 16 changes each chroma kernel's result at every
// pixel within two rows and columns by exactly the kernel's weight for that offset, and the
// green kernel's (eighths) by twice its weight.
TEST_P(KernelExamples, SingleSiteImpulseShowsEveryKernelWeight) {
    using Weights = int[5][5];
    static constexpr Weights kGreen = {
        {0, 0, -1, 0, 0}, {0, 0, 2, 0, 0}, {-1, 2, 4, 2, -1}, {0, 0, 2, 0, 0}, {0, 0, -1, 0, 0}};
    static constexpr Weights kDiagonal = {
        {0, 0, -3, 0, 0}, {0, 4, 0, 4, 0}, {-3, 0, 12, 0, -3}, {0, 4, 0, 4, 0}, {0, 0, -3, 0, 0}};
    static constexpr Weights kRow = {
        {0, 0, 1, 0, 0}, {0, -2, 0, -2, 0}, {-2, 8, 10, 8, -2}, {0, -2, 0, -2, 0}, {0, 0, 1, 0, 0}};
    static constexpr Weights kColumn = {
        {0, 0, -2, 0, 0}, {0, -2, 8, -2, 0}, {1, 0, 10, 0, 1}, {0, -2, 8, -2, 0}, {0, 0, -2, 0, 0}};
    // Source of red, green and blue at each RGGB site: a kernel, or null for the raw sample.
    struct Sources {
        const Weights* channel[3];
    };
    auto sourcesAt = [](uint32_t x, uint32_t y) -> Sources {
        if (y % 2 == 0) {
            return x % 2 == 0 ? Sources{{nullptr, &kGreen, &kDiagonal}}
                              : Sources{{&kRow, nullptr, &kColumn}};
        }
        return x % 2 == 0 ? Sources{{&kColumn, nullptr, &kRow}}
                          : Sources{{&kDiagonal, &kGreen, nullptr}};
    };

    constexpr uint32_t kSiteY = 8;
    for (uint32_t siteX : {16u, 17u}) {                // a red site and a green site of a red row
        for (uint32_t siteY : {kSiteY, kSiteY + 1}) {  // and the sites below them
            RawFrame frame = UniformFrame(32, 16, 100);
            frame.at(siteX, siteY) = 116;
            SizedProcessor processor(32, 16);
            processor.Pad(frame);
            processor.SetFrameGains(128, 128, 128);
            processor.SetFrameMatrix(kIdentityMatrix);
            kernels().convertColor(processor.get(), BayerPhase::RGGB);
            for (int dy = -2; dy <= 2; ++dy) {
                for (int dx = -2; dx <= 2; ++dx) {
                    // The raised site lies at offset (dx, dy) from output pixel (x, y).
                    const uint32_t x = siteX - dx;
                    const uint32_t y = siteY - dy;
                    const Sources sources = sourcesAt(x, y);
                    for (int c = 0; c < 3; ++c) {
                        const Weights* weights = sources.channel[c];
                        int expected = 100;
                        if (!weights) {
                            expected = dx == 0 && dy == 0 ? 116 : 100;
                        } else {
                            const int w = (*weights)[dy + 2][dx + 2];
                            expected += weights == &kGreen ? 2 * w : w;
                        }
                        EXPECT_EQ(PixelAt(processor, x, y)[2 - c], expected)
                            << "site " << siteX << "," << siteY << " pixel " << x << "," << y
                            << " channel " << c;
                    }
                }
            }
        }
    }
}

struct PixelCase {
    const char* name;
    uint8_t red;  // mosaic site values
    uint8_t green;
    uint8_t blue;
    int32_t gains[3];
    int32_t matrix[16];
    Bgra expected;
};

// Flat mosaics make every pixel's reconstruction the site values, isolating the gain and
// matrix steps.
class GainAndMatrixTest : public ::testing::TestWithParam<std::tuple<NamedKernels, PixelCase>> {};

TEST_P(GainAndMatrixTest, EveryPixel) {
    const auto& [kernels, c] = GetParam();
    for (BayerPhase phase : kAllPhases) {
        SizedProcessor processor(17, 9);
        processor.Pad(MosaicFrame(17, 9, phase, c.red, c.green, c.blue));
        processor.SetFrameGains(c.gains[0], c.gains[1], c.gains[2]);
        processor.SetFrameMatrix(c.matrix);
        kernels.kernels->convertColor(processor.get(), phase);
        for (uint32_t y = 0; y < 9; ++y) {
            for (uint32_t x = 0; x < 17; ++x) ASSERT_EQ(PixelAt(processor, x, y), c.expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GainAndMatrixTest,
    ::testing::Combine(
        ::testing::ValuesIn(kBothKernelSets),
        ::testing::Values(
            // P and N are divided by 64 each on their own: 100/64 - 40/64 is 1, not 0.
            PixelCase{"SeparateRounding",
                      100,
                      40,
                      0,
                      {128, 128, 128},
                      {1, 0, 0, 0, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                      {0, 0, 1, 255}},
            PixelCase{"ConstantAddsAndClamps",
                      250,
                      100,
                      50,
                      {128, 128, 128},
                      {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 640, 0, 0, 64},
                      {50, 100, 255, 255}},
            PixelCase{"ConstantAdds",
                      100,
                      100,
                      50,
                      {128, 128, 128},
                      {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 640, 0, 0, 64},
                      {50, 100, 110, 255}},
            PixelCase{"NegativeConstantClampsAtZero",
                      100,
                      100,
                      50,
                      {128, 128, 128},
                      {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, -6400, 0, 64},
                      {50, 0, 100, 255}},
            PixelCase{"FiveTimesRedSaturates",
                      200,
                      100,
                      50,
                      {128, 128, 128},
                      {320, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64},
                      {50, 100, 255, 255}},
            PixelCase{"FiveTimesRed",
                      40,
                      100,
                      50,
                      {128, 128, 128},
                      {320, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64},
                      {50, 100, 200, 255}},
            PixelCase{"GainZero",
                      200,
                      100,
                      50,
                      {0, 128, 128},
                      {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64},
                      {50, 100, 0, 255}},
            PixelCase{"GainDoubleSaturates",
                      200,
                      100,
                      50,
                      {256, 128, 128},
                      {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64},
                      {50, 100, 255, 255}},
            // Only the low 16 bits of a gain count: 65536 is 0, -1 is 65535, 65664 is 128.
            PixelCase{"GainWrapsAt16Bits",
                      200,
                      100,
                      50,
                      {65536, -1, 65664},
                      {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64},
                      {50, 255, 0, 255}},
            PixelCase{"GainOneOfBlack",
                      0,
                      1,
                      255,
                      {1, 1, 1},
                      {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64},
                      {1, 0, 0, 255}},
            // Output columns mix inputs: blue out = red in, red out = blue in.
            PixelCase{"ChannelSwap",
                      200,
                      100,
                      50,
                      {128, 128, 128},
                      {0, 0, 64, 0, 0, 64, 0, 0, 64, 0, 0, 0, 0, 0, 0, 64},
                      {200, 100, 50, 255}},
            // Large coefficients take the wider matrix forms.
            PixelCase{"CoefficientJustBeyond16Bits",
                      1,
                      1,
                      0,
                      {128, 128, 128},
                      {32768, 0, 0, 0, -32704, 0, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64},
                      {0, 0, 1, 255}},
            PixelCase{"WideCoefficients",
                      3,
                      2,
                      1,
                      {128, 128, 128},
                      {1 << 20, 0, 0, 0, -(1 << 20) + 64, 0, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64},
                      {1, 0, 255, 255}},
            PixelCase{"HugeCoefficients",
                      3,
                      2,
                      1,
                      {128, 128, 128},
                      {INT32_MIN, 0, 0, 0, INT32_MAX, 0, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64},
                      {1, 0, 0, 255}})),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

struct LumaCase {
    const char* name;
    uint8_t red;
    uint8_t green;
    uint8_t blue;
    int32_t redGain;
    uint8_t expected;
};

class LumaTest : public ::testing::TestWithParam<std::tuple<NamedKernels, LumaCase>> {};

TEST_P(LumaTest, EveryPixel) {
    const auto& [kernels, c] = GetParam();
    for (BayerPhase phase : kAllPhases) {
        SizedProcessor processor(17, 9);
        processor.Pad(MosaicFrame(17, 9, phase, c.red, c.green, c.blue));
        processor.SetFrameGains(c.redGain, 128, 128);
        // The luminance kernel reads no matrix.
        processor.SetFrameMatrix({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -64, -64, -64, 0});
        kernels.kernels->convertLuma(processor.get(), phase);
        for (uint32_t y = 0; y < 9; ++y) {
            for (uint32_t x = 0; x < 17; ++x) {
                ASSERT_EQ(PixelAt(processor, x, y),
                          (Bgra{c.expected, c.expected, c.expected, 255}));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LumaTest,
    ::testing::Combine(::testing::ValuesIn(kBothKernelSets),
                       ::testing::Values(LumaCase{"Uniform100", 100, 100, 100, 128, 99},
                                         LumaCase{"Uniform255", 255, 255, 255, 128, 253},
                                         LumaCase{"Mosaic", 200, 100, 50, 128, 123},
                                         LumaCase{"RedClampedFirst", 200, 100, 50, 256, 139})),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

TEST_P(KernelExamples, WidthSeventeenWritesSeventeenPixelsPerRow) {
    SizedProcessor processor(17, 8);
    // A sentinel right after the image must survive.
    std::vector<uint8_t> output(17 * 8 * 4 + 64, 0xAB);
    processor->outputCursor = output.data();
    PadRawFrame(processor.get(), MosaicFrame(17, 8, BayerPhase::RGGB, 200, 100, 50).pixels.data(),
                0, 17);
    processor.SetFrameGains(128, 128, 128);
    processor.SetFrameMatrix(kIdentityMatrix);
    kernels().convertColor(processor.get(), BayerPhase::RGGB);
    for (size_t i = 0; i < 17 * 8; ++i) {
        ASSERT_EQ(output[4 * i], 50) << i;
        ASSERT_EQ(output[4 * i + 2], 200) << i;
    }
    for (size_t i = 17 * 8 * 4; i < output.size(); ++i) ASSERT_EQ(output[i], 0xAB) << i;
}

}  // namespace
}  // namespace bayercam::test
