#include <gtest/gtest.h>

#include <memory>

#include "camera/camera_geometry.h"
#include "stream/capture_descriptors.h"
#include "support/sim_device.h"

namespace bayercam {
namespace {

class CameraGeometryTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(sim_.Add(), STATUS_SUCCESS); }
    CameraDevice* device() { return sim_.device(); }
    testing::SimDevice sim_;
};

TEST_F(CameraGeometryTest, RegionIsAlignedAndBoundedToTheSensor) {
    struct Case {
        int32_t x, y, width, height;
        int32_t roiX, roiY, roiW, roiH, outputWidth;
    };
    const Case cases[] = {
        {0, 0, 1360, 1024, 0, 0, 1360, 1024, 1360},
        {3, 5, 100, 50, 4, 6, 100, 50, 96},
        {1359, 1023, 0, 0, 1352, 1016, 8, 8, 8},
        {0, 1000, 1360, 100, 0, 1000, 1360, 24, 1360},
        {0, 0, 0, 0, 0, 0, 1360, 1024, 1360},
        {0, 0, -5, -1, 0, 0, 1360, 1024, 1360},
        {0, 0, 5000, 5000, 0, 0, 1360, 1024, 1360},
        {-3, -1, 10, 10, 0, 0, 10, 10, 8},
        {100, 0, 7, 1, 100, 0, 7, 1, 0},
        {INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, 1352, 0, 8, 1024, 8},
    };
    for (const Case& c : cases) {
        SetGeometry(device(), c.x, c.y, c.width, c.height);
        SCOPED_TRACE(::testing::Message()
                     << c.x << "," << c.y << " " << c.width << "x" << c.height);
        EXPECT_EQ(device()->roiX, c.roiX);
        EXPECT_EQ(device()->roiY, c.roiY);
        EXPECT_EQ(device()->roiW, c.roiW);
        EXPECT_EQ(device()->roiH, c.roiH);
        EXPECT_EQ(device()->outputWidth, c.outputWidth);
        EXPECT_EQ(device()->outputHeight, c.roiH);
        EXPECT_EQ(device()->readoutWidth, 1360);
        EXPECT_EQ(device()->subSample, 0);
    }
}

TEST_F(CameraGeometryTest, DataRangeFollowsTheOutputSize) {
    SetGeometry(device(), 3, 5, 100, 50);
    const KS_DATARANGE_VIDEO& range = device()->captureDescriptors->videoDataRange;
    EXPECT_EQ(range.DataRange.SampleSize, 19200u);
    EXPECT_EQ(range.ConfigCaps.InputSize.cx, 96);
    EXPECT_EQ(range.ConfigCaps.MaxOutputSize.cy, 50);
    EXPECT_EQ(range.ConfigCaps.MinCroppingSize.cx, 96);
    EXPECT_EQ(range.ConfigCaps.MinFrameInterval, 333333);
    EXPECT_EQ(range.ConfigCaps.MaxFrameInterval, 333333);
    EXPECT_EQ(range.ConfigCaps.MinBitsPerSecond, 96 * 50 * 960);
    EXPECT_EQ(range.VideoInfoHeader.rcSource.right, 96);
    EXPECT_EQ(range.VideoInfoHeader.rcSource.bottom, 50);
    EXPECT_EQ(range.VideoInfoHeader.rcSource.left, 0);
    EXPECT_EQ(range.VideoInfoHeader.dwBitRate, 96u * 50 * 120);
    EXPECT_EQ(range.VideoInfoHeader.AvgTimePerFrame, 333333);
    EXPECT_EQ(range.VideoInfoHeader.bmiHeader.biWidth, 96);
    EXPECT_EQ(range.VideoInfoHeader.bmiHeader.biHeight, 50);
    EXPECT_EQ(range.VideoInfoHeader.bmiHeader.biSizeImage, 19200u);
    // Fields the geometry does not own keep their values.
    EXPECT_EQ(range.DataRange.FormatSize, sizeof(KS_DATARANGE_VIDEO));
    EXPECT_EQ(range.bTemporalCompression, 1);
    EXPECT_EQ(range.ConfigCaps.CropGranularityX, 8);
    EXPECT_EQ(range.VideoInfoHeader.bmiHeader.biBitCount, 32);
    EXPECT_TRUE(range.DataRange.SubFormat == MEDIASUBTYPE_RGB32);
    SetGeometry(device(), 0, 0, 1360, 1024);
    EXPECT_EQ(range.DataRange.SampleSize, 5570560u);
    EXPECT_EQ(range.ConfigCaps.MaxBitsPerSecond, 1336934400);
}

TEST_F(CameraGeometryTest, LockedGeometryIgnoresChanges) {
    SetGeometry(device(), 8, 8, 64, 64);
    SetGeometryLock(device(), 1);
    SetGeometry(device(), 0, 0, 1360, 1024);
    EXPECT_EQ(device()->roiW, 64);
    EXPECT_EQ(device()->captureDescriptors->videoDataRange.DataRange.SampleSize, 64u * 64 * 4);
    SetGeometryLock(device(), 0);
    SetGeometry(device(), 0, 0, 1360, 1024);
    EXPECT_EQ(device()->roiW, 1360);
}

}  // namespace
}  // namespace bayercam
