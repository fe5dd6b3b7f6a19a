#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <thread>

#include "imaging/bayer_kernels.h"
#include "imaging/image_processor.h"
#include "imaging_fixture.h"

namespace bayercam::test {
namespace {

// Work pixel (x, y) of a padded frame; x and y may reach into the border.
uint8_t Work(ImageProcessor* p, int x, int y) {
    return p->pixelOrigin[static_cast<ptrdiff_t>(y) * p->rowPitch + x];
}

TEST(PadRawFrame, BorderRowsColumnsAndCornersOfTenRowFrame) {
    std::mt19937 random(3);
    const RawFrame frame = RandomFrame(12, 10, random);
    auto raw = [&](int x, int y) { return frame.pixels[y * 12 + x]; };
    SizedProcessor processor(12, 10);
    processor.Pad(frame);
    ImageProcessor* p = processor.get();

    struct Case {
        int workX, workY, rawX, rawY;
    };
    const Case cases[] = {// Rows: -2 <- 2, -1 <- 1, 10 <- 6, 11 <- 7.
                          {0, -2, 0, 2},
                          {5, -1, 5, 1},
                          {11, 10, 11, 6},
                          {3, 11, 3, 7},
                          // Columns: -2 <- 2, -1 <- 1, 12 <- 10, 13 <- 9.
                          {-2, 5, 2, 5},
                          {-1, 5, 1, 5},
                          {12, 5, 10, 5},
                          {13, 5, 9, 5},
                          // Corners come from the border rows.
                          {-2, -2, 2, 2},
                          {-1, -1, 1, 1},
                          {13, 11, 9, 7},
                          {12, 10, 10, 6},
                          {-2, 11, 2, 7},
                          {13, -2, 9, 2},
                          // The image itself.
                          {0, 0, 0, 0},
                          {11, 9, 11, 9}};
    for (const Case& c : cases) {
        EXPECT_EQ(Work(p, c.workX, c.workY), raw(c.rawX, c.rawY))
            << "work " << c.workX << "," << c.workY;
    }
}

TEST(PadRawFrame, NoBorderBelowEightPixels) {
    for (auto [width, height] : {std::pair{7u, 10u}, std::pair{12u, 7u}}) {
        const RawFrame frame = UniformFrame(width, height, 99);
        SizedProcessor processor(width, height);
        processor.Pad(frame);
        ImageProcessor* p = processor.get();
        for (int y = 0; y < static_cast<int>(height); ++y) {
            EXPECT_EQ(Work(p, 0, y), 99);
            EXPECT_EQ(Work(p, -1, y), 0);
            EXPECT_EQ(Work(p, static_cast<int>(width), y), 0);
        }
        EXPECT_EQ(Work(p, 0, -1), 0);
        EXPECT_EQ(Work(p, 0, static_cast<int>(height)), 0);
    }
}

TEST(PadRawFrame, ReadsRowsAtOffsetAndStep) {
    // A 9 x 8 region at (3, 2) of a 20-byte-wide buffer; the border comes from the region too.
    std::vector<uint8_t> buffer(20 * 12);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i);
    SizedProcessor processor(9, 8);
    PadRawFrame(processor.get(), buffer.data(), 2 * 20 + 3, 20);
    for (int y = -2; y < 10; ++y) {
        // Rows above mirror about row 0, rows below repeat rows 4 and 5; columns mirror about
        // the edge columns.
        const int row = y < 0 ? -y : y < 8 ? y : y - 4;
        for (int x = -2; x < 11; ++x) {
            const int column = x < 0 ? -x : x < 9 ? x : 16 - x;
            ASSERT_EQ(Work(processor.get(), x, y), buffer[(row + 2) * 20 + column + 3])
                << x << ", " << y;
        }
    }
}

TEST(ConvertGrayFrame, WritesEachRawByteAsGrayPixel) {
    std::vector<uint8_t> buffer(40 * 9, 0x11);
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 21; ++x) buffer[5 + y * 40 + x] = static_cast<uint8_t>(0x80 + x + y);
    }
    SizedProcessor processor(21, 9);
    ConvertGrayFrame(processor.get(), buffer.data(), 5, 40);
    for (uint32_t y = 0; y < 9; ++y) {
        for (uint32_t x = 0; x < 21; ++x) {
            const uint8_t b = static_cast<uint8_t>(0x80 + x + y);
            const uint8_t* p = processor.Pixel(x, y);
            ASSERT_EQ((std::array<uint8_t, 4>{p[0], p[1], p[2], p[3]}),
                      (std::array<uint8_t, 4>{b, b, b, 0xFF}));
        }
    }
}

TEST(ExpandBytesToBgra, EveryLengthAroundVectorSizes) {
    for (size_t count : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 63u, 64u, 65u, 200u}) {
        std::vector<uint8_t> source(count);
        for (size_t i = 0; i < count; ++i) source[i] = static_cast<uint8_t>(i * 37 + 1);
        std::vector<uint8_t> out(count * 4 + 4, 0xCD);
        ExpandBytesToBgra(source.data(), out.data(), count);
        for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(out[4 * i], source[i]);
            ASSERT_EQ(out[4 * i + 1], source[i]);
            ASSERT_EQ(out[4 * i + 2], source[i]);
            ASSERT_EQ(out[4 * i + 3], 0xFF);
        }
        for (size_t i = count * 4; i < out.size(); ++i) ASSERT_EQ(out[i], 0xCD);
    }
}

TEST(ConvertColorFrame, PipelineModeOutsideZeroToTwoSelectsGbrg) {
    for (int32_t mode : {3, 7, -1}) {
        SizedProcessor processor(16, 8);
        UpdateColorCorrection(processor.get(), 0);
        SetPipelineMode(processor.get(), mode);
        const RawFrame frame = MosaicFrame(16, 8, BayerPhase::GBRG, 200, 100, 50);
        ConvertColorFrame(processor.get(), frame.pixels.data(), 0, 16);
        for (uint32_t y = 0; y < 8; ++y) {
            for (uint32_t x = 0; x < 16; ++x) {
                ASSERT_EQ(processor.Pixel(x, y)[0], 50) << mode;
                ASSERT_EQ(processor.Pixel(x, y)[2], 200) << mode;
            }
        }
    }
}

TEST(ConvertColorFrame, AutoWhiteBalanceAppliesAndPublishesTheFrameGains) {
    SizedProcessor processor(16, 8);
    UpdateColorCorrection(processor.get(), 0);
    SetPipelineMode(processor.get(), 2);
    SetAutoWhiteBalance(processor.get(), 1);
    SetGreenGain(processor.get(), 500);
    const RawFrame frame = MosaicFrame(16, 8, BayerPhase::RGGB, 200, 100, 50);
    ConvertColorFrame(processor.get(), frame.pixels.data(), 0, 16);
    EXPECT_EQ(processor->redGain, 64);
    EXPECT_EQ(processor->greenGain, 128);
    EXPECT_EQ(processor->blueGain, 256);
    // The measured gains already apply to this frame: every pixel is balanced to 100.
    for (uint32_t y = 0; y < 8; ++y) {
        for (uint32_t x = 0; x < 16; ++x) {
            const uint8_t* p = processor.Pixel(x, y);
            ASSERT_EQ(p[0], 100);
            ASSERT_EQ(p[1], 100);
            ASSERT_EQ(p[2], 100);
        }
    }
}

TEST(ConvertColorFrame, ColorSwitchOffBetweenReadsUsesLuminance) {
    SizedProcessor processor(16, 8);
    SetPipelineMode(processor.get(), 2);
    SetColorEnable(processor.get(), 0);
    const RawFrame frame = MosaicFrame(16, 8, BayerPhase::RGGB, 200, 100, 50);
    ConvertColorFrame(processor.get(), frame.pixels.data(), 0, 16);
    EXPECT_EQ(processor.Pixel(3, 3)[0], 123);
    EXPECT_EQ(processor.Pixel(3, 3)[2], 123);
}

TEST(ConvertColorFrame, MissingBufferChangesNothing) {
    SizedProcessor processor(16, 8);
    SetAutoWhiteBalance(processor.get(), 1);
    processor.SetFrameGains(1, 2, 3);
    processor->frameMatrix[0] = 77;
    const RawFrame frame = MosaicFrame(16, 8, BayerPhase::RGGB, 200, 100, 50);
    uint8_t* output = processor->outputBuffer;

    processor->outputBuffer = nullptr;
    ConvertColorFrame(processor.get(), frame.pixels.data(), 0, 16);
    processor->outputBuffer = output;
    ConvertColorFrame(processor.get(), nullptr, 0, 16);
    // A frame size changed without a new work buffer would overrun the old one.
    SetFrameSize(processor.get(), 64, 64);
    ConvertColorFrame(processor.get(), frame.pixels.data(), 0, 16);

    EXPECT_EQ(processor->frameRedGain, 1);
    EXPECT_EQ(processor->frameGreenGain, 2);
    EXPECT_EQ(processor->frameBlueGain, 3);
    EXPECT_EQ(processor->frameMatrix[0], 77);
    EXPECT_EQ(processor->redGain, 128);
    for (uint8_t byte : processor.output()) ASSERT_EQ(byte, 0);
}

// Matrix rewrites while frames convert: every frame sees the 16 values of one rewrite.
TEST(ConvertColorFrame, MatrixSnapshotNeverMixesTwoRewrites) {
    SizedProcessor processor(16, 8);
    ImageProcessor* p = processor.get();
    int32_t first[16];
    int32_t second[16];
    UpdateHue(p, 120);
    std::memcpy(first, p->colorMatrix, sizeof first);
    UpdateHue(p, 240);
    std::memcpy(second, p->colorMatrix, sizeof second);
    ASSERT_NE(std::memcmp(first, second, sizeof first), 0);

    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop.load(); ++i) {
            UpdateHue(p, i % 2 == 0 ? 120 : 240);
            UpdateBrightness(p, 255);  // rebuilds nothing
        }
    });
    const RawFrame frame = UniformFrame(16, 8, 100);
    int mixed = 0;
    for (int frameIndex = 0; frameIndex < 2000; ++frameIndex) {
        ConvertColorFrame(p, frame.pixels.data(), 0, 16);
        const bool isFirst = std::memcmp(p->frameMatrix, first, sizeof first) == 0;
        const bool isSecond = std::memcmp(p->frameMatrix, second, sizeof second) == 0;
        if (!isFirst && !isSecond) ++mixed;
        for (int k = 0; k < 16; ++k) {
            ASSERT_EQ(p->matrixPositive[k], p->frameMatrix[k] > 0 ? 1 : 0);
        }
    }
    stop = true;
    writer.join();
    EXPECT_EQ(mixed, 0);
}

}  // namespace
}  // namespace bayercam::test
