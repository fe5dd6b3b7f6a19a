// The vector kernels against the plain ones, byte for byte, on every instruction set this
// machine runs: every phase, block-edge widths and heights, random frames, extreme gains and
// the matrices the builders produce as well as random ones.
#include <gtest/gtest.h>

#include <hwy/targets.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/bayer_kernels.h"
#include "imaging/image_processor.h"
#include "imaging_fixture.h"

namespace bayercam::test {
namespace {

constexpr uint32_t kWidths[] = {8, 9, 15, 16, 17, 31, 63, 64, 65, 1021, 1360};
constexpr uint32_t kHeights[] = {8, 9, 10, 1023, 1024};
constexpr int32_t kEdgeGains[] = {0, 1, 128, 65535, 65536, -1, 255, 32768};

// Debug and sanitizer builds are many times slower: there, frames of more than kRotateAbove
// pixels are checked for one phase each (in turn), and of the full-size frames only the first, on
// the instruction set the dispatch picks.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
constexpr bool kFullSweep = true;
#else
constexpr bool kFullSweep = false;
#endif
constexpr uint64_t kRotateAbove = 10000;
constexpr uint64_t kFullSizeAbove = 1000000;

// A colour matrix as the builders make it from random in-range settings.
void BuilderMatrix(ImageProcessor* p, std::mt19937& random, int32_t (&out)[16]) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    UpdateColorCorrection(p, pick(0, 1));
    UpdateBrightness(p, pick(0, 1) ? pick(0, 510) : pick(0, 1) * 510);
    UpdateContrast(p, pick(0, 20));
    UpdateSaturation(p, pick(0, 20));
    UpdateHue(p, pick(0, 359));
    std::memcpy(out, p->colorMatrix, sizeof out);
}

void RandomMatrix(std::mt19937& random, int32_t magnitude, int32_t (&out)[16]) {
    std::uniform_int_distribution<int32_t> entry(-magnitude, magnitude);
    for (int32_t& m : out) m = entry(random);
    // Zeros weigh on the negative side; make sure some appear.
    out[random() % 16] = 0;
}

struct Config {
    int32_t gains[3];
    int32_t matrix[16];
};

// The instruction sets to check: every vector one this machine runs (the plain fallback target
// runs the plain kernels themselves).
std::vector<int64_t> VectorTargets() {
    std::vector<int64_t> targets;
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        if (target != HWY_SCALAR && target != HWY_EMU128) targets.push_back(target);
    }
    return targets;
}

struct Results {
    std::vector<uint8_t> color;
    std::vector<uint8_t> luma;
    int32_t gains[3];
};

Results Run(SizedProcessor& processor, BayerPhase phase, const Config& config,
            const BayerKernelSet& kernels) {
    ImageProcessor* p = processor.get();
    const size_t bytes = size_t{p->frameWidth} * p->frameHeight * 4;
    Results results{std::vector<uint8_t>(bytes), std::vector<uint8_t>(bytes), {}};
    processor.SetFrameMatrix(config.matrix);
    processor.SetFrameGains(config.gains[0], config.gains[1], config.gains[2]);
    p->outputCursor = results.color.data();
    kernels.convertColor(p, phase);
    p->outputCursor = results.luma.data();
    kernels.convertLuma(p, phase);
    kernels.computeWhiteBalance(p, phase);
    results.gains[0] = p->frameRedGain;
    results.gains[1] = p->frameGreenGain;
    results.gains[2] = p->frameBlueGain;
    return results;
}

void ExpectSameImage(const std::vector<uint8_t>& expected, const std::vector<uint8_t>& actual,
                     const std::string& what) {
    if (expected == actual) return;
    size_t i = 0;
    while (expected[i] == actual[i]) ++i;
    ADD_FAILURE() << what << ": first difference at byte " << i << " (pixel " << i / 4 << "), "
                  << int(expected[i]) << " vs " << int(actual[i]);
}

// Runs all three kernels once plainly and once per vector instruction set, and compares.
void ExpectSameResults(SizedProcessor& processor, BayerPhase phase, const Config& config,
                       const std::string& what, bool everyTarget = true) {
    const Results expected = Run(processor, phase, config, kScalarKernels);
    std::vector<int64_t> targets = VectorTargets();
    // The best instruction set comes first.
    if (!everyTarget && !targets.empty()) targets.resize(1);
    for (int64_t target : targets) {
        hwy::SetSupportedTargetsForTest(target);
        const Results actual = Run(processor, phase, config, kVectorKernels);
        const std::string where = what + " on " + hwy::TargetName(target);
        ExpectSameImage(expected.color, actual.color, where + " colour");
        ExpectSameImage(expected.luma, actual.luma, where + " luma");
        EXPECT_EQ(std::vector<int32_t>(expected.gains, expected.gains + 3),
                  std::vector<int32_t>(actual.gains, actual.gains + 3))
            << where << " white balance";
    }
    hwy::SetSupportedTargetsForTest(0);
}

TEST(VectorMatchTest, RunsOnAtLeastOneVectorInstructionSet) {
    EXPECT_FALSE(VectorTargets().empty());
}

// Sanitizer builds leave the 512-bit targets out on purpose; every other build carries them and
// the dispatch must pick one where the processor has it.
TEST(VectorMatchTest, DispatchPicksAvx512WhereThereIsOne) {
#if HWY_ARCH_X86 && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_NE(VectorKernelTargets() & HWY_AVX3, 0);
    EXPECT_NE(VectorKernelTargets() & HWY_AVX3_DL, 0);
    if ((hwy::SupportedTargets() & HWY_AVX3) == 0) GTEST_SKIP() << "no AVX-512 here";
    EXPECT_EQ(std::string(VectorKernelTarget()).rfind("AVX3", 0), 0u) << VectorKernelTarget();
#else
    GTEST_SKIP() << "not an x86 build with every target";
#endif
}

TEST(VectorMatchTest, EverySizeAndPhase) {
    std::mt19937 random(2024);
    int rotation = 0;
    bool fullSizeChecked = false;
    for (uint32_t width : kWidths) {
        for (uint32_t height : kHeights) {
            const uint64_t pixels = uint64_t{width} * height;
            const bool fullSize = pixels > kFullSizeAbove;
            if (!kFullSweep && fullSize && fullSizeChecked) continue;
            fullSizeChecked = fullSizeChecked || fullSize;
            const int phaseToCheck = rotation++ % 4;
            SizedProcessor processor(width, height);
            for (BayerPhase phase : kAllPhases) {
                if (!kFullSweep && pixels > kRotateAbove &&
                    static_cast<int>(phase) != phaseToCheck) {
                    continue;
                }
                processor.Pad(RandomFrame(width, height, random));
                Config config{};
                for (int32_t& g : config.gains) g = kEdgeGains[random() % std::size(kEdgeGains)];
                if (random() % 2) {
                    BuilderMatrix(processor.get(), random, config.matrix);
                } else {
                    RandomMatrix(random, 1 << 20, config.matrix);
                }
                ExpectSameResults(processor, phase, config,
                                  std::to_string(width) + "x" + std::to_string(height) + " phase " +
                                      std::to_string(static_cast<int>(phase)),
                                  kFullSweep || !fullSize);
                if (HasFailure()) return;
            }
        }
    }
}

TEST(VectorMatchTest, GainsAndMatricesOnSmallFrames) {
    std::mt19937 random(99);
    SizedProcessor processor(33, 10);
    // Brightness and contrast extremes give the largest constant terms the builders produce.
    const int32_t magnitudes[] = {64, 32767, 40000, 1 << 20, 1 << 22, (1 << 22) + 1, INT32_MAX};
    for (int round = 0; round < 120; ++round) {
        const BayerPhase phase = kAllPhases[round % 4];
        processor.Pad(round % 5 == 0 ? UniformFrame(33, 10, static_cast<uint8_t>(round * 2))
                                     : RandomFrame(33, 10, random));
        Config config{};
        for (int c = 0; c < 3; ++c) {
            config.gains[c] = round % 2 ? kEdgeGains[(round / 2 + c) % std::size(kEdgeGains)]
                                        : static_cast<int32_t>(random());
        }
        if (round % 3 == 0) {
            BuilderMatrix(processor.get(), random, config.matrix);
        } else {
            RandomMatrix(random, magnitudes[round % std::size(magnitudes)], config.matrix);
        }
        ExpectSameResults(processor, phase, config, "round " + std::to_string(round));
        if (HasFailure()) return;
    }
}

// Frames below 8 pixels get no border; the kernels read the zeros around them.
TEST(VectorMatchTest, FramesWithoutBorder) {
    std::mt19937 random(11);
    for (uint32_t width : {1u, 2u, 3u, 7u, 40u}) {
        for (uint32_t height : {1u, 2u, 7u}) {
            SizedProcessor processor(width, height);
            for (BayerPhase phase : kAllPhases) {
                processor.Pad(RandomFrame(width, height, random));
                Config config{{128, 300, 90}, {}};
                BuilderMatrix(processor.get(), random, config.matrix);
                ExpectSameResults(processor, phase, config,
                                  std::to_string(width) + "x" + std::to_string(height));
                if (HasFailure()) return;
            }
        }
    }
}

// Every setting at the ends of its range, combined: the builders' matrices all take the vector
// path and match.
TEST(VectorMatchTest, BuilderExtremes) {
    std::mt19937 random(5);
    SizedProcessor processor(24, 8);
    processor.Pad(RandomFrame(24, 8, random));
    ImageProcessor* p = processor.get();
    for (int32_t correction : {0, 1}) {
        for (int32_t brightness : {0, 255, 510}) {
            for (int32_t contrast : {0, 10, 20}) {
                for (int32_t saturation : {0, 10, 20}) {
                    for (int32_t hue : {0, 90, 180, 359}) {
                        UpdateColorCorrection(p, correction);
                        UpdateBrightness(p, brightness);
                        UpdateContrast(p, contrast);
                        UpdateSaturation(p, saturation);
                        UpdateHue(p, hue);
                        Config config{{128, 128, 128}, {}};
                        std::memcpy(config.matrix, p->colorMatrix, sizeof config.matrix);
                        ExpectSameResults(processor, BayerPhase::RGGB, config, "builder");
                        if (HasFailure()) return;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace bayercam::test
