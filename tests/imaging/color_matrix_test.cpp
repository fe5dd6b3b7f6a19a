#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "imaging/image_processor.h"
#include "imaging_fixture.h"
#include "platform/kernel/pool.h"

namespace bayercam::test {
namespace {

using Matrix = std::array<int32_t, 16>;

Matrix ColorMatrixOf(ImageProcessor* processor) {
    Matrix m;
    std::copy(processor->colorMatrix, processor->colorMatrix + 16, m.begin());
    return m;
}

struct MatrixCase {
    const char* name;
    std::function<void(ImageProcessor*)> apply;
    Matrix expected;
};

class ColorMatrixTest : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(ColorMatrixTest, FoldsSettingsIntoFixedPointMatrix) {
    DefaultDevice device;
    ImageProcessor* processor = CreateImageProcessor(device.get());
    ASSERT_NE(processor, nullptr);
    GetParam().apply(processor);
    EXPECT_EQ(ColorMatrixOf(processor), GetParam().expected);
    FreeImageProcessor(processor);
}

void CorrectionOff(ImageProcessor* p) {
    UpdateColorCorrection(p, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ColorMatrixTest,
    ::testing::Values(
        MatrixCase{"DefaultsWithCorrection", [](ImageProcessor*) {},
                   {87, -16, -6, 0, -14, 90, -20, 0, -9, -10, 91, 0, 0, 0, 0, 64}},
        MatrixCase{"DefaultsWithoutCorrection", CorrectionOff,
                   {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64}},
        MatrixCase{"Brightness510",
                   [](ImageProcessor* p) {
                       CorrectionOff(p);
                       UpdateBrightness(p, 510);
                   },
                   {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 16320, 16320, 16320, 64}},
        MatrixCase{"Brightness0",
                   [](ImageProcessor* p) {
                       CorrectionOff(p);
                       UpdateBrightness(p, 0);
                   },
                   {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, -16320, -16320, -16320, 64}},
        MatrixCase{"BrightnessClampedAbove",
                   [](ImageProcessor* p) {
                       CorrectionOff(p);
                       UpdateBrightness(p, 9999);
                   },
                   {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 16320, 16320, 16320, 64}},
        MatrixCase{"Contrast20",
                   [](ImageProcessor* p) {
                       CorrectionOff(p);
                       UpdateContrast(p, 20);
                   },
                   {128, 0, 0, 0, 0, 128, 0, 0, 0, 0, 128, 0, -8192, -8192, -8192, 64}},
        MatrixCase{"Contrast0",
                   [](ImageProcessor* p) {
                       CorrectionOff(p);
                       UpdateContrast(p, 0);
                   },
                   {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8192, 8192, 8192, 64}},
        MatrixCase{"Saturation0",
                   [](ImageProcessor* p) {
                       CorrectionOff(p);
                       UpdateSaturation(p, 0);
                   },
                   {20, 20, 20, 0, 39, 39, 39, 0, 5, 5, 5, 0, 0, 0, 0, 64}},
        MatrixCase{"Saturation20",
                   [](ImageProcessor* p) {
                       CorrectionOff(p);
                       UpdateSaturation(p, 20);
                   },
                   {108, -20, -20, 0, -39, 89, -39, 0, -5, -5, 123, 0, 0, 0, 0, 64}},
        MatrixCase{"Hue180",
                   [](ImageProcessor* p) {
                       CorrectionOff(p);
                       UpdateHue(p, 180);
                   },
                   {-24, 40, 40, 0, 78, 14, 78, 0, 10, 10, -54, 0, 0, 0, 0, 64}},
        MatrixCase{"Hue120",
                   [](ImageProcessor* p) {
                       CorrectionOff(p);
                       UpdateHue(p, 120);
                   },
                   {-19, 45, -19, 0, 34, 34, 98, 0, 49, -15, -15, 0, 0, 0, 0, 64}},
        MatrixCase{"Hue360IsIdentity",
                   [](ImageProcessor* p) {
                       CorrectionOff(p);
                       UpdateHue(p, 360);
                   },
                   {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64}},
        // Far below the ranges callers clamp to, the fixed-point entries saturate instead of
        // overflowing.
        MatrixCase{"BrightnessFarBelowRangeSaturates",
                   [](ImageProcessor* p) {
                       CorrectionOff(p);
                       UpdateBrightness(p, INT32_MIN);
                   },
                   {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, INT32_MIN, INT32_MIN, INT32_MIN, 64}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImageProcessorCreation, TakesDeviceSettingsInOrderAndBuildsTheirMatrices) {
    DefaultDevice device;
    device->whiteBalance = 1;
    device->pipelineMode = 7;
    device->colorEnable = 0;
    device->redGain = 300;
    device->greenGain = 1;
    device->blueGain = 512;
    device->colorCorrection = 0;
    device->hue = 180;
    ImageProcessor* processor = CreateImageProcessor(device.get());
    ASSERT_NE(processor, nullptr);
    EXPECT_EQ(processor->whiteBalance, 1);
    EXPECT_EQ(processor->pipelineMode, 7);
    EXPECT_EQ(processor->colorEnable, 0);
    EXPECT_EQ(processor->redGain, 300);
    EXPECT_EQ(processor->greenGain, 1);
    EXPECT_EQ(processor->blueGain, 512);
    EXPECT_EQ(processor->hue, 180);
    EXPECT_EQ(ColorMatrixOf(processor),
              (Matrix{-24, 40, 40, 0, 78, 14, 78, 0, 10, 10, -54, 0, 0, 0, 0, 64}));
    EXPECT_EQ(processor->workBuffer, nullptr);
    EXPECT_EQ(processor->outputBuffer, nullptr);
    FreeImageProcessor(processor);
}

TEST(ImageProcessorCreation, FailedAllocationGivesNullAndLeaksNothing) {
    DefaultDevice device;
    const int64_t live = pool::LiveAllocations();
    pool::FailNth(1);
    EXPECT_EQ(CreateImageProcessor(device.get()), nullptr);
    pool::Reset();
    EXPECT_EQ(pool::LiveAllocations(), live);
}

TEST(ImageProcessorUpdate, SameValueRebuildsNothing) {
    DefaultDevice device;
    ImageProcessor* processor = CreateImageProcessor(device.get());
    ASSERT_NE(processor, nullptr);
    // A stale colorMatrix stays stale when every setting is set to its current value.
    processor->colorMatrix[0] = 12345;
    UpdateColorCorrection(processor, 1);
    UpdateBrightness(processor, 255);
    UpdateContrast(processor, 10);
    UpdateSaturation(processor, 10);
    UpdateHue(processor, 0);
    EXPECT_EQ(processor->colorMatrix[0], 12345);
    UpdateHue(processor, 1);
    EXPECT_EQ(processor->hue, 1);
    EXPECT_NE(processor->colorMatrix[0], 12345);
    FreeImageProcessor(processor);
}

struct FrameSizeCase {
    uint32_t width;
    uint32_t height;
    uint32_t workStride;
    uint32_t workBytes;
};

class FrameSizeTest : public ::testing::TestWithParam<FrameSizeCase> {};

TEST_P(FrameSizeTest, SizesTheWorkBufferWithMargins) {
    const FrameSizeCase& c = GetParam();
    DefaultDevice device;
    ImageProcessor* processor = CreateImageProcessor(device.get());
    ASSERT_NE(processor, nullptr);
    SetFrameSize(processor, c.width, c.height);
    EXPECT_EQ(processor->width, c.width);
    EXPECT_EQ(processor->height, c.height);
    EXPECT_EQ(processor->workStride, c.workStride);
    EXPECT_EQ(processor->workBytes, c.workBytes);

    const int64_t live = pool::LiveAllocations();
    AllocateWorkBuffer(processor);
    if (c.workBytes == 0) {
        EXPECT_EQ(processor->workBuffer, nullptr);
    } else {
        ASSERT_NE(processor->workBuffer, nullptr);
        EXPECT_EQ(processor->pixelOrigin, processor->workBuffer + 2 * c.workStride + 5);
        EXPECT_EQ(processor->rowPitch, static_cast<int32_t>(c.workStride));
        EXPECT_EQ(processor->frameWidth, c.width);
        EXPECT_EQ(processor->frameHeight, c.height);
        // Reallocation replaces the buffer instead of adding one.
        AllocateWorkBuffer(processor);
        EXPECT_EQ(pool::LiveAllocations(), live + 1);
    }
    FreeImageProcessor(processor);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FrameSizeTest,
                         ::testing::Values(FrameSizeCase{1360, 1024, 1387, 1425836},
                                           FrameSizeCase{1360, 1023, 1387, 1425836},
                                           FrameSizeCase{17, 5, 43, 430},
                                           FrameSizeCase{0, 0, 27, 108},
                                           // Too large for 32-bit sizes: no buffer at all.
                                           FrameSizeCase{0xFFFFFFF0u, 8, 0, 0},
                                           FrameSizeCase{16, 0xFFFFFFFFu, 0, 0}));

TEST(WorkBuffer, FailedAllocationLeavesNoBufferAndConversionsDoNothing) {
    SizedProcessor processor(16, 8);
    pool::FailNth(1);
    AllocateWorkBuffer(processor.get());
    pool::Reset();
    EXPECT_EQ(processor->workBuffer, nullptr);
    const RawFrame frame = UniformFrame(16, 8, 77);
    ConvertColorFrame(processor.get(), frame.pixels.data(), 0, 16);
    ConvertGrayFrame(processor.get(), frame.pixels.data(), 0, 16);
    for (uint8_t byte : processor.output()) ASSERT_EQ(byte, 0);
}

}  // namespace
}  // namespace bayercam::test
