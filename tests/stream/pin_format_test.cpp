#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "stream/capture_pin.h"
#include "stream/video_data_range.h"

namespace bayercam::test {
namespace {

// The pin's range as the geometry leaves it for a region of `width` x `height`.
KS_DATARANGE_VIDEO RangeFor(int32_t width, int32_t height) {
    KS_DATARANGE_VIDEO range = VideoDataRange;
    uint32_t pixels = uint32_t(width) * uint32_t(height);
    range.DataRange.SampleSize = pixels * 4;
    KS_VIDEO_STREAM_CONFIG_CAPS& caps = range.ConfigCaps;
    caps.InputSize = caps.MinCroppingSize = caps.MaxCroppingSize = {width, height};
    caps.MinOutputSize = caps.MaxOutputSize = {width, height};
    caps.MinFrameInterval = caps.MaxFrameInterval = kFrameInterval;
    caps.MinBitsPerSecond = caps.MaxBitsPerSecond = int32_t(pixels * 960);
    range.VideoInfoHeader.rcSource = {0, 0, width, height};
    range.VideoInfoHeader.AvgTimePerFrame = kFrameInterval;
    range.VideoInfoHeader.bmiHeader.biWidth = width;
    range.VideoInfoHeader.bmiHeader.biHeight = height;
    range.VideoInfoHeader.bmiHeader.biSizeImage = pixels * 4;
    return range;
}

KS_DATAFORMAT_VIDEOINFOHEADER FormatFor(const KS_DATARANGE_VIDEO& range) {
    KS_DATAFORMAT_VIDEOINFOHEADER format{};
    format.DataFormat = range.DataRange;
    format.DataFormat.FormatSize = sizeof format;
    format.VideoInfoHeader = range.VideoInfoHeader;
    return format;
}

// A connection format with room behind it for a larger bitmap header.
struct FormatBytes {
    KS_DATAFORMAT_VIDEOINFOHEADER format;
    uint8_t extra[16];
};

TEST(PinSetDataFormat, ConnectionFormatChecks) {
    const KS_DATARANGE_VIDEO range = RangeFor(1360, 1024);
    using Edit = std::function<void(KS_DATAFORMAT_VIDEOINFOHEADER&)>;
    struct Case {
        const char* name;
        Edit edit;
        NTSTATUS status;
    } cases[] = {
        {"as offered", [](auto&) {}, STATUS_SUCCESS},
        {"other specifier", [](auto& f) { f.DataFormat.Specifier = GUID_NULL; }, STATUS_NO_MATCH},
        {"one byte short of a header", [](auto& f) { f.DataFormat.FormatSize = 151; },
         STATUS_NO_MATCH},
        {"bitmap header past the format", [](auto& f) { f.VideoInfoHeader.bmiHeader.biSize = 41; },
         STATUS_INVALID_PARAMETER},
        {"bitmap header size wraps", [](auto& f) { f.VideoInfoHeader.bmiHeader.biSize = ~0u - 50; },
         STATUS_INVALID_PARAMETER},
        {"larger bitmap header than the pin keeps",
         [](auto& f) {
             f.DataFormat.FormatSize = 152 + 16;
             f.VideoInfoHeader.bmiHeader.biSize = 56;
         },
         STATUS_INVALID_PARAMETER},
        {"smaller bitmap header", [](auto& f) { f.VideoInfoHeader.bmiHeader.biSize = 12; },
         STATUS_INVALID_PARAMETER},
        {"wider rows",
         [](auto& f) {
             f.VideoInfoHeader.bmiHeader.biWidth = 1368;
             f.VideoInfoHeader.bmiHeader.biSizeImage = 1368 * 1024 * 4;
         },
         STATUS_SUCCESS},
        {"narrower rows", [](auto& f) { f.VideoInfoHeader.bmiHeader.biWidth = 1352; },
         STATUS_NO_MATCH},
        {"top-down", [](auto& f) { f.VideoInfoHeader.bmiHeader.biHeight = -1024; },
         STATUS_SUCCESS},
        {"one row less", [](auto& f) { f.VideoInfoHeader.bmiHeader.biHeight = 1023; },
         STATUS_NO_MATCH},
        {"most negative height", [](auto& f) { f.VideoInfoHeader.bmiHeader.biHeight = INT32_MIN; },
         STATUS_NO_MATCH},
        {"compressed", [](auto& f) { f.VideoInfoHeader.bmiHeader.biCompression = 3; },
         STATUS_NO_MATCH},
        {"image one byte short",
         [](auto& f) { f.VideoInfoHeader.bmiHeader.biSizeImage = 1360 * 1024 * 4 - 1; },
         STATUS_INVALID_PARAMETER},
        {"row size that wraps 32 bits",
         [](auto& f) {
             f.VideoInfoHeader.bmiHeader.biWidth = 0x40000000;
             f.VideoInfoHeader.bmiHeader.biSizeImage = 1360 * 1024 * 4;
         },
         STATUS_INVALID_PARAMETER},
        {"bit depth is left to acquire", [](auto& f) { f.VideoInfoHeader.bmiHeader.biBitCount = 24; },
         STATUS_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FormatBytes bytes{FormatFor(range), {}};
        c.edit(bytes.format);
        KSPIN pin{};
        pin.ConnectionFormat = &bytes.format.DataFormat;
        EXPECT_EQ(PinSetDataFormat(&pin, nullptr, nullptr, &range.DataRange, nullptr), c.status);
    }
}

TEST(PinSetDataFormat, ARangeNarrowerThanEightPixelsOffersNoFormat) {
    // A 4-pixel region: the output width is 0.
    const KS_DATARANGE_VIDEO range = RangeFor(0, 16);
    for (int32_t width : {0, 8}) {
        SCOPED_TRACE(width);
        KS_DATAFORMAT_VIDEOINFOHEADER format = FormatFor(range);
        format.VideoInfoHeader.bmiHeader.biWidth = width;
        format.VideoInfoHeader.bmiHeader.biSizeImage = uint32_t(width) * 16 * 4;
        KSPIN pin{};
        pin.ConnectionFormat = &format.DataFormat;
        EXPECT_EQ(PinSetDataFormat(&pin, nullptr, nullptr, &range.DataRange, nullptr),
                  STATUS_NO_MATCH);
    }
}

TEST(PinSetDataFormat, AChangeIsTakenInStopOnlyAndRecordsTheNewPitch) {
    const KS_DATARANGE_VIDEO range = RangeFor(1360, 1024);
    KS_DATAFORMAT_VIDEOINFOHEADER created = FormatFor(range);
    KS_DATAFORMAT_VIDEOINFOHEADER wider = created;
    wider.VideoInfoHeader.bmiHeader.biWidth = 1368;
    wider.VideoInfoHeader.bmiHeader.biSizeImage = 1368 * 1024 * 4;
    wider.VideoInfoHeader.AvgTimePerFrame = 666666;
    struct Case {
        KSSTATE state;
        NTSTATUS status;
        uint32_t pitch;
        int64_t frameTime;
    } cases[] = {
        {KSSTATE_STOP, STATUS_SUCCESS, 5472, 666666},
        {KSSTATE_ACQUIRE, STATUS_INVALID_DEVICE_STATE, 5440, kFrameInterval},
        {KSSTATE_PAUSE, STATUS_INVALID_DEVICE_STATE, 5440, kFrameInterval},
        {KSSTATE_RUN, STATUS_INVALID_DEVICE_STATE, 5440, kFrameInterval},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        CapturePin record;
        record.videoInfo = created.VideoInfoHeader;
        record.outputPitch = 5440;
        KSPIN pin{};
        pin.Context = &record;
        pin.DeviceState = c.state;
        pin.ConnectionFormat = &wider.DataFormat;
        EXPECT_EQ(PinSetDataFormat(&pin, &created.DataFormat, nullptr, &range.DataRange, nullptr),
                  c.status);
        EXPECT_EQ(record.outputPitch, c.pitch);
        EXPECT_EQ(record.videoInfo.AvgTimePerFrame, c.frameTime);
    }
}

class PinIntersectTest : public ::testing::Test {
  protected:
    NTSTATUS Intersect(const void* caller, uint32_t bufferSize) {
        result_.assign(bufferSize, 0xAB);
        size_ = 0xFFFF;
        return PinIntersect(nullptr, nullptr, nullptr, static_cast<const KSDATARANGE*>(caller),
                            &own_.DataRange, bufferSize, result_.data(), &size_);
    }
    KS_DATAFORMAT_VIDEOINFOHEADER Result() const {
        KS_DATAFORMAT_VIDEOINFOHEADER format;
        std::memcpy(&format, result_.data(), sizeof format);
        return format;
    }

    KS_DATARANGE_VIDEO own_ = RangeFor(1360, 1024);
    std::vector<uint8_t> result_;
    uint32_t size_ = 0;
};

TEST_F(PinIntersectTest, CallerRangesThatDoNotMatch) {
    using Edit = std::function<void(KS_DATARANGE_VIDEO&)>;
    struct Case {
        const char* name;
        Edit edit;
        NTSTATUS status;
    } cases[] = {
        {"other specifier", [](auto& r) { r.DataRange.Specifier = GUID_NULL; }, STATUS_NO_MATCH},
        {"range one byte short", [](auto& r) { r.DataRange.FormatSize = 295; }, STATUS_NO_MATCH},
        {"variable sample size", [](auto& r) { r.bFixedSizeSamples = 0; }, STATUS_NO_MATCH},
        {"no temporal compression", [](auto& r) { r.bTemporalCompression = 0; }, STATUS_NO_MATCH},
        {"description flags", [](auto& r) { r.StreamDescriptionFlags = 1; }, STATUS_NO_MATCH},
        {"allocation flags", [](auto& r) { r.MemoryAllocationFlags = 1; }, STATUS_NO_MATCH},
        {"frame interval before the geometry",
         [](auto& r) { r.ConfigCaps.MinFrameInterval = 333667; }, STATUS_NO_MATCH},
        {"last byte of the capabilities", [](auto& r) { r.ConfigCaps.MaxBitsPerSecond ^= 1 << 24; },
         STATUS_NO_MATCH},
        {"bitmap header past the range", [](auto& r) { r.VideoInfoHeader.bmiHeader.biSize = 41; },
         STATUS_INVALID_PARAMETER},
        {"bitmap header size wraps",
         [](auto& r) { r.VideoInfoHeader.bmiHeader.biSize = 0xFFFFFF00; },
         STATUS_INVALID_PARAMETER},
        {"bitmap header too small for an image size",
         [](auto& r) { r.VideoInfoHeader.bmiHeader.biSize = 16; }, STATUS_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KS_DATARANGE_VIDEO caller = own_;
        c.edit(caller);
        EXPECT_EQ(Intersect(&caller, 512), c.status);
    }
}

TEST_F(PinIntersectTest, SizeQueryAndShortBuffer) {
    EXPECT_EQ(Intersect(&own_, 0), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(size_, 152u);
    EXPECT_EQ(Intersect(&own_, 151), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(Intersect(&own_, 152), STATUS_SUCCESS);
    EXPECT_EQ(size_, 152u);
}

TEST_F(PinIntersectTest, ResultTakesTheCallersHeaderAndCorrectsOnlyTheImageSize) {
    struct Case {
        int32_t width, height;
        uint16_t bitCount;
        uint32_t imageSize;
    } cases[] = {
        {1360, 1024, 32, 5570560},
        {1360, -1024, 32, 5570560},
        {1021, 3, 24, 3064 * 3},  // rows rounded down to whole 4-byte groups
        {640, 480, 32, 1228800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << " x " << c.bitCount);
        KS_DATARANGE_VIDEO caller = own_;
        caller.VideoInfoHeader.bmiHeader.biWidth = c.width;
        caller.VideoInfoHeader.bmiHeader.biHeight = c.height;
        caller.VideoInfoHeader.bmiHeader.biBitCount = c.bitCount;
        caller.VideoInfoHeader.bmiHeader.biSizeImage = 7;
        caller.VideoInfoHeader.rcTarget = {1, 2, 3, 4};
        caller.VideoInfoHeader.AvgTimePerFrame = 400000;
        ASSERT_EQ(Intersect(&caller, 200), STATUS_SUCCESS);
        KS_DATAFORMAT_VIDEOINFOHEADER format = Result();
        EXPECT_EQ(format.DataFormat.FormatSize, 152u);
        EXPECT_EQ(format.DataFormat.SampleSize, c.imageSize);
        EXPECT_EQ(format.DataFormat.MajorFormat, KSDATAFORMAT_TYPE_VIDEO);
        EXPECT_EQ(format.DataFormat.SubFormat, MEDIASUBTYPE_RGB32);
        EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biSizeImage, c.imageSize);
        EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biHeight, c.height);
        EXPECT_EQ(format.VideoInfoHeader.rcTarget.bottom, 4);
        EXPECT_EQ(format.VideoInfoHeader.AvgTimePerFrame, 400000);
        EXPECT_EQ(result_[152], 0xAB) << "nothing written past the result";
    }
}

TEST_F(PinIntersectTest, ARangeOfWidthZeroOffersNothing) {
    own_ = RangeFor(0, 1024);
    EXPECT_EQ(Intersect(&own_, 512), STATUS_NO_MATCH);
}

}  // namespace
}  // namespace bayercam::test
