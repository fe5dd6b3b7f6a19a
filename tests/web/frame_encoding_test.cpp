#include "web/frame_encoding.h"

#include <gtest/gtest.h>
#include <png.h>
#include <turbojpeg.h>

#include <vector>

namespace bayercam::web {
namespace {

std::vector<uint8_t> Solid(uint32_t width, uint32_t height, uint8_t b, uint8_t g, uint8_t r) {
    std::vector<uint8_t> pixels;
    for (uint32_t i = 0; i < width * height; ++i) pixels.insert(pixels.end(), {b, g, r, 255});
    return pixels;
}

TEST(FrameEncodingTest, JpegDecodesToTheShrunkSizeAndColour) {
    std::vector<uint8_t> pixels = Solid(64, 48, 40, 120, 200);
    for (uint32_t shrink : {1u, 2u, 4u}) {
        SCOPED_TRACE(shrink);
        std::string jpeg = EncodeJpeg({pixels, 64, 48}, 85, shrink);
        ASSERT_FALSE(jpeg.empty());
        tjhandle decoder = tjInitDecompress();
        int width = 0, height = 0, subsampling = 0, colourspace = 0;
        auto data = reinterpret_cast<const unsigned char*>(jpeg.data());
        ASSERT_EQ(tjDecompressHeader3(decoder, data, jpeg.size(), &width, &height, &subsampling,
                                      &colourspace),
                  0);
        EXPECT_EQ(width, static_cast<int>(64 / shrink));
        EXPECT_EQ(height, static_cast<int>(48 / shrink));
        std::vector<uint8_t> out(size_t(width) * height * 4);
        ASSERT_EQ(
            tjDecompress2(decoder, data, jpeg.size(), out.data(), width, 0, height, TJPF_BGRA, 0),
            0);
        tjDestroy(decoder);
        EXPECT_NEAR(out[0], 40, 4);
        EXPECT_NEAR(out[1], 120, 4);
        EXPECT_NEAR(out[2], 200, 4);
    }
}

TEST(FrameEncodingTest, PngKeepsEveryPixel) {
    std::vector<uint8_t> pixels(16 * 8 * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = i % 4 == 3 ? 255 : uint8_t(i * 7);
    std::string encoded = EncodePng({pixels, 16, 8});
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&png, encoded.data(), encoded.size()));
    png.format = PNG_FORMAT_BGRA;
    std::vector<uint8_t> decoded(PNG_IMAGE_SIZE(png));
    ASSERT_TRUE(png_image_finish_read(&png, nullptr, decoded.data(), 0, nullptr));
    EXPECT_EQ(png.width, 16u);
    EXPECT_EQ(png.height, 8u);
    EXPECT_EQ(decoded, pixels);
}

TEST(FrameEncodingTest, HistogramCountsEverySecondPixelOfEverySecondRow) {
    std::vector<uint8_t> pixels = Solid(6, 4, 10, 20, 30);
    pixels[0] = 99;  // blue of pixel (0, 0), counted
    pixels[4] = 77;  // blue of pixel (1, 0), skipped
    Histogram histogram = HistogramOf({pixels, 6, 4});
    EXPECT_EQ(histogram.blue[99], 1u);
    EXPECT_EQ(histogram.blue[77], 0u);
    EXPECT_EQ(histogram.blue[10], 5u);
    EXPECT_EQ(histogram.green[20], 6u);
    EXPECT_EQ(histogram.red[30], 6u);
}

}  // namespace
}  // namespace bayercam::web
