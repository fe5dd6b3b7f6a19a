#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "imaging/bayer_kernels.h"
#include "imaging_fixture.h"

namespace bayercam::test {
namespace {

struct SumsCase {
    uint64_t red;
    uint64_t green;
    uint64_t blue;
    int32_t expectedRed;
    int32_t expectedBlue;
};

class WhiteBalanceGainsTest : public ::testing::TestWithParam<SumsCase> {};

TEST_P(WhiteBalanceGainsTest, FollowsTheDoubleSteps) {
    const SumsCase& c = GetParam();
    int32_t red = -7;
    int32_t green = -7;
    int32_t blue = -7;
    WhiteBalanceGains(c.red, c.green, c.blue, &red, &green, &blue);
    EXPECT_EQ(red, c.expectedRed);
    EXPECT_EQ(green, 128);
    EXPECT_EQ(blue, c.expectedBlue);
}

INSTANTIATE_TEST_SUITE_P(
    Sums, WhiteBalanceGainsTest,
    ::testing::Values(SumsCase{1, 5, 5, 639, 128},  // exact quotient 640, the steps land below
                      SumsCase{3, 7, 11, 298, 81}, SumsCase{200, 100, 50, 64, 256},
                      SumsCase{5, 5, 5, 128, 128},
                      // A black channel keeps the gain it had; a black green keeps both.
                      SumsCase{0, 5, 5, -7, 128}, SumsCase{5, 5, 0, 128, -7},
                      SumsCase{5, 0, 5, -7, -7}, SumsCase{0, 0, 0, -7, -7},
                      // A ratio beyond int32 saturates.
                      SumsCase{1, 355123200, 355123200, INT32_MAX, 128}));

class WhiteBalanceKernelTest : public ::testing::TestWithParam<NamedKernels> {};

INSTANTIATE_TEST_SUITE_P(BothSets, WhiteBalanceKernelTest, ::testing::ValuesIn(kBothKernelSets),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(WhiteBalanceKernelTest, MosaicFramesForEveryPhase) {
    struct Case {
        uint8_t red, green, blue;
        int32_t expected[3];
    };
    for (const Case& c : {Case{200, 100, 50, {64, 128, 256}}, Case{90, 90, 90, {128, 128, 128}}}) {
        for (BayerPhase phase : kAllPhases) {
            SizedProcessor processor(16, 8);
            processor.Pad(MosaicFrame(16, 8, phase, c.red, c.green, c.blue));
            processor.SetFrameGains(1, 2, 3);
            GetParam().kernels->computeWhiteBalance(processor.get(), phase);
            EXPECT_EQ(processor->frameRedGain, c.expected[0]);
            EXPECT_EQ(processor->frameGreenGain, c.expected[1]);
            EXPECT_EQ(processor->frameBlueGain, c.expected[2]);
        }
    }
}

// Only pixels inside the width count, whatever the spare bytes of the work buffer hold; rows
// wider than 4096 pixels do not overflow the partial sums.
TEST_P(WhiteBalanceKernelTest, CountsOnlyPixelsInsideTheWidth) {
    for (uint32_t width : {17u, 31u, 33u, 9000u}) {
        SizedProcessor processor(width, 8);
        std::fill(processor->workBuffer, processor->workBuffer + processor->workBytes, 255);
        processor.Pad(MosaicFrame(width, 8, BayerPhase::RGGB, 200, 100, 50));
        GetParam().kernels->computeWhiteBalance(processor.get(), BayerPhase::RGGB);
        EXPECT_EQ(processor->frameRedGain, 64) << width;
        EXPECT_EQ(processor->frameBlueGain, 256) << width;
    }
}

TEST_P(WhiteBalanceKernelTest, BlackFrameKeepsTheGains) {
    SizedProcessor processor(16, 8);
    processor.Pad(UniformFrame(16, 8, 0));
    processor.SetFrameGains(300, 128, 90);
    GetParam().kernels->computeWhiteBalance(processor.get(), BayerPhase::RGGB);
    EXPECT_EQ(processor->frameRedGain, 300);
    EXPECT_EQ(processor->frameGreenGain, 128);
    EXPECT_EQ(processor->frameBlueGain, 90);
}

}  // namespace
}  // namespace bayercam::test
