#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "stream/capture_pin.h"
#include "stream/frame_copy.h"

namespace bayercam::test {
namespace {

// Source pixel (x, y) holds x (two bytes), y and 0xFF, so every copied pixel names its origin.
std::vector<uint8_t> Source(int32_t width, int32_t height) {
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = &pixels[(size_t(y) * width + x) * 4];
            p[0] = uint8_t(x), p[1] = uint8_t(x >> 8), p[2] = uint8_t(y), p[3] = 0xFF;
        }
    return pixels;
}

struct Origin {
    int32_t x, y;
    bool operator==(const Origin&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Origin& o) {
    return out << "(" << o.x << ", " << o.y << ")";
}

Origin OriginAt(const std::vector<uint8_t>& frame, uint32_t pitch, int32_t x, int32_t row) {
    const uint8_t* p = &frame[size_t(row) * pitch + size_t(x) * 4];
    return {p[0] | p[1] << 8, p[2]};
}

TEST(CopyImageToFrame, RowOrderAndMirroring) {
    const int32_t width = 8, height = 4;
    const std::vector<uint8_t> source = Source(width, height);
    struct Case {
        bool flipH, flipV;
        Origin row0pixel0, row0pixel7, row3pixel0;
    } cases[] = {
        {false, false, {0, 3}, {7, 3}, {0, 0}},  // last source row first: upright bottom-up
        {false, true, {0, 0}, {7, 0}, {0, 3}},
        {true, false, {7, 3}, {0, 3}, {7, 0}},
        {true, true, {7, 0}, {0, 0}, {7, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "flipH " << c.flipH << " flipV " << c.flipV);
        FrameCopy copy{width, height, width, height, width * 4, c.flipH, c.flipV};
        std::vector<uint8_t> frame(width * height * 4);
        EXPECT_EQ(CopyImageToFrame(copy, source.data(), frame.data(), uint32_t(frame.size())),
                  height);
        EXPECT_EQ(OriginAt(frame, copy.pitch, 0, 0), c.row0pixel0);
        EXPECT_EQ(OriginAt(frame, copy.pitch, 7, 0), c.row0pixel7);
        EXPECT_EQ(OriginAt(frame, copy.pitch, 0, 3), c.row3pixel0);
        EXPECT_EQ(frame[3], 0xFF);
    }
}

TEST(CopyImageToFrame, PitchesAndWidths) {
    struct Case {
        const char* name;
        int32_t sourceWidth, outputWidth, height;
        uint32_t outputPitch;
        uint32_t expectedPitch;
    } cases[] = {
        {"full sensor", 1360, 1360, 3, 0, 5440},
        {"region 1021 wide takes 1016 of each row", 1021, 1016, 3, 0, 4064},
        {"pitch recorded by a wider format", 1360, 1360, 3, 1368 * 4, 5472},
        {"recorded pitch below the row is not used", 64, 64, 3, 100, 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> source = Source(c.sourceWidth, c.height);
        FrameCopy copy{c.sourceWidth,
                       c.height,
                       c.outputWidth,
                       c.height,
                       FramePitch(c.outputPitch, c.outputWidth),
                       false,
                       true};
        EXPECT_EQ(copy.pitch, c.expectedPitch);
        std::vector<uint8_t> frame(size_t(copy.pitch) * c.height, 0xAA);
        ASSERT_EQ(CopyImageToFrame(copy, source.data(), frame.data(), uint32_t(frame.size())),
                  c.height);
        for (int32_t row = 0; row < c.height; ++row) {
            EXPECT_EQ(OriginAt(frame, copy.pitch, 0, row), (Origin{0, row}));
            EXPECT_EQ(OriginAt(frame, copy.pitch, c.outputWidth - 1, row),
                      (Origin{c.outputWidth - 1, row}));
            // Bytes between the image row and the next frame row are not written.
            for (uint32_t b = uint32_t(c.outputWidth) * 4; b < copy.pitch; ++b)
                ASSERT_EQ(frame[size_t(row) * copy.pitch + b], 0xAA) << "row " << row;
        }
    }
}

TEST(CopyImageToFrame, NeverWritesPastTheFrame) {
    const int32_t width = 16, height = 6;
    const std::vector<uint8_t> source = Source(width, height);
    struct Case {
        const char* name;
        int32_t outputWidth, outputHeight;
        uint32_t pitch;
        size_t frameBytes;
        int32_t rows;
    } cases[] = {
        {"frame of the image size", 16, 6, 64, 6 * 64, 6},
        {"wider pitch than the frame was made for", 16, 6, 80, 6 * 64, 5},
        {"last row only partly there", 16, 6, 64, 5 * 64 + 63, 5},
        {"frame shorter than a row", 16, 6, 64, 63, 0},
        {"no width", 0, 6, 64, 6 * 64, 0},
        {"no rows", 16, 0, 64, 6 * 64, 0},
        {"more rows asked than the source has", 16, 9, 64, 9 * 64, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameCopy copy{width, height, c.outputWidth, c.outputHeight, c.pitch, true, false};
        // Exactly the frame's size, so that a sanitizer sees any write past it.
        auto frame = std::make_unique<uint8_t[]>(c.frameBytes);
        EXPECT_EQ(CopyImageToFrame(copy, source.data(), frame.get(), uint32_t(c.frameBytes)),
                  c.rows);
    }
}

TEST(FramePitch, LargerOfRecordedPitchAndRowComparedSigned) {
    EXPECT_EQ(FramePitch(0, 1360), 5440u);
    EXPECT_EQ(FramePitch(5472, 1360), 5472u);
    EXPECT_EQ(FramePitch(0x80000000u, 8), 32u);
    EXPECT_EQ(FramePitch(0, 0), 0u);
}

class FakeClock final : public IKsReferenceClock {
  public:
    int64_t GetTime() override { return time; }
    int64_t GetPhysicalTime() override { return time; }
    int64_t GetCorrelatedTime(int64_t* system) override {
        if (system) *system = 1;
        return time;
    }
    int64_t GetCorrelatedPhysicalTime(int64_t* system) override {
        return GetCorrelatedTime(system);
    }
    uint32_t AddRef() override { return 2; }
    uint32_t Release() override { return 1; }
    int64_t time = 123456789;
};

TEST(FillStreamHeader, TimeFlagsAndFrameInfo) {
    struct Case {
        const char* name;
        bool clock;
        uint32_t headerSize;
        int32_t frameCounter;
        uint32_t frameExtent;
        int64_t time;
        uint32_t flags;
        bool frameInfo;
        int64_t pictureNumber;
        uint32_t dataUsed;
        bool captureRecord;  // the device start made one; it counts the dropped frames
    } cases[] = {
        {"clock and frame info", true, 128, 41, 5570560, 123456789, 0x110, true, 41, 5570560, true},
        {"clock, header of 56 bytes", true, 56, 41, 5570560, 123456789, 0x110, false, 0, 5570560,
         true},
        {"no clock", false, 128, 41, 5570560, 0, 0x4, false, 0, 5570560, true},
        {"counter read as unsigned", true, 128, -1, 5570560, 123456789, 0x110, true, 0xFFFFFFFF,
         5570560, true},
        {"frame smaller than the image", true, 128, 1, 5440 * 1000, 123456789, 0x110, true, 1,
         5440 * 1000, true},
        {"no capture record", true, 128, 41, 5570560, 123456789, 0x110, true, 41, 5570560, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto device = std::make_unique<CameraDevice>();
        device->frameCounter.store(c.frameCounter);
        auto context = std::make_unique<CaptureContext>();
        context->framesDropped.store(7);
        if (c.captureRecord) device->captureContext = context.get();
        FakeClock clock;
        CapturePin record;
        record.device = device.get();
        record.referenceClock = c.clock ? &clock : nullptr;
        record.videoInfo.AvgTimePerFrame = 333333;
        record.videoInfo.bmiHeader.biSizeImage = 5570560;
        struct {
            KSSTREAM_HEADER header;
            KS_FRAME_INFO frameInfo;
        } block;
        std::memset(&block, 0x5A, sizeof block);
        block.header.Size = c.headerSize;
        block.header.OptionsFlags = 0x4;
        block.header.FrameExtent = c.frameExtent;
        FillStreamHeader(&record, &block.header);
        EXPECT_EQ(block.header.DataUsed, c.dataUsed);
        EXPECT_EQ(block.header.Duration, 333333);
        EXPECT_EQ(block.header.PresentationTime.Numerator, 1u);
        EXPECT_EQ(block.header.PresentationTime.Denominator, 1u);
        EXPECT_EQ(block.header.PresentationTime.Time, c.time);
        EXPECT_EQ(block.header.OptionsFlags, c.flags);
        EXPECT_EQ(block.header.TypeSpecificFlags, 0x5A5A5A5Au) << "other fields untouched";
        if (c.frameInfo) {
            EXPECT_EQ(block.frameInfo.ExtendedHeaderSize, 72u);
            EXPECT_EQ(block.frameInfo.PictureNumber, c.pictureNumber);
            EXPECT_EQ(block.frameInfo.DropCount, c.captureRecord ? 7 : 0);
            EXPECT_EQ(block.frameInfo.dwFrameFlags, 0x5A5A5A5Au);
        } else {
            EXPECT_EQ(block.frameInfo.ExtendedHeaderSize, 0x5A5A5A5Au);
        }
    }
}

}  // namespace
}  // namespace bayercam::test
