#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "imaging/pgm.h"

namespace bayercam {
namespace {

std::vector<uint8_t> Bytes(const std::string& header, size_t pixels, uint8_t first = 7) {
    std::vector<uint8_t> data(header.begin(), header.end());
    for (size_t i = 0; i < pixels; ++i) data.push_back(static_cast<uint8_t>(first + i));
    return data;
}

struct ParseCase {
    const char* name;
    std::vector<uint8_t> data;
    bool ok;
    uint32_t width;
    uint32_t height;
    const char* errorPart;  // expected in the error text when parsing fails
};

class ParsePgmTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParsePgmTest, AcceptsOnlyEightBitBinaryImages) {
    const ParseCase& c = GetParam();
    PgmImage image;
    std::string error;
    ASSERT_EQ(ParsePgm(c.data.data(), c.data.size(), &image, &error), c.ok) << error;
    if (c.ok) {
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.height, c.height);
        ASSERT_EQ(image.pixels.size(), size_t{c.width} * c.height);
        EXPECT_EQ(image.pixels.front(), 7);
    } else {
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Headers, ParsePgmTest,
    ::testing::Values(
        ParseCase{"Plain", Bytes("P5\n3 2\n255\n", 6), true, 3, 2, ""},
        ParseCase{"CommentsAndSpaces", Bytes("P5 # made by hand\n 3\t2 # size\n255\r", 6), true, 3,
                  2, ""},
        ParseCase{"TrailingBytesIgnored", Bytes("P5\n2 2\n255\n", 9), true, 2, 2, ""},
        ParseCase{"AsciiGraymap", Bytes("P2\n2 2\n255\n", 4), false, 0, 0, "P5"},
        ParseCase{"Empty", {}, false, 0, 0, "P5"},
        ParseCase{"SixteenBit", Bytes("P5\n2 2\n65535\n", 8), false, 0, 0, "65535"},
        ParseCase{"Truncated", Bytes("P5\n4 4\n255\n", 15), false, 0, 0, "truncated"},
        ParseCase{"ZeroWidth", Bytes("P5\n0 4\n255\n", 0), false, 0, 0, "width"},
        ParseCase{"HugeWidth", Bytes("P5\n99999999999 4\n255\n", 4), false, 0, 0, "width"},
        ParseCase{"MissingMaxval", Bytes("P5\n2 2\n", 0), false, 0, 0, "maximum"},
        ParseCase{"NoSpaceAfterMaxval", Bytes("P5\n1 1\n255", 0), false, 0, 0, "maximum"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParsePgm, FirstPixelLookingLikeWhitespaceIsAPixel) {
    const std::vector<uint8_t> data = Bytes("P5\n2 1\n255\n", 2, ' ');
    PgmImage image;
    std::string error;
    ASSERT_TRUE(ParsePgm(data.data(), data.size(), &image, &error)) << error;
    EXPECT_EQ(image.pixels, (std::vector<uint8_t>{' ', ' ' + 1}));
}

TEST(PgmFile, WriteThenReadGivesTheSameImage) {
    PgmImage image{5, 3, {}};
    for (int i = 0; i < 15; ++i) image.pixels.push_back(static_cast<uint8_t>(i * 17));
    const std::string path = ::testing::TempDir() + "pgm_round_trip.pgm";
    std::string error;
    ASSERT_TRUE(WritePgmFile(path, image, &error)) << error;
    PgmImage read;
    ASSERT_TRUE(ReadPgmFile(path, 5, 3, &read, &error)) << error;
    EXPECT_EQ(read.width, 5u);
    EXPECT_EQ(read.height, 3u);
    EXPECT_EQ(read.pixels, image.pixels);
    std::remove(path.c_str());
}

// Inputs that once read until memory ran out, or aborted the reader: each is refused from its
// header, or reads no more than the header promised.
TEST(PgmFile, HostileInputsAreRefusedFromTheHeader) {
    const std::string dir = ::testing::TempDir();
    auto write = [&](const char* name, const std::string& bytes) {
        const std::string path = dir + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        return path;
    };
    struct Case {
        std::string path;
        bool ok;
        const char* errorPart;
    };
    const Case cases[] = {
        {dir, false, "directory"},
        {"/dev/zero", false, "P5"},
        {"/dev/urandom", false, ""},
        {"/dev/null", false, "empty"},
        {dir + "pgm_missing.pgm", false, "cannot open"},
        {write("pgm_huge.pgm", "P5\n30000 30000\n255\n"), false, "expected 4x2"},
        {write("pgm_short.pgm", "P5\n4 2\n255\n1234567"), false, "truncated"},
        {write("pgm_comment.pgm", "P5\n#" + std::string(5000, 'x')), false, "header longer"},
        {write("pgm_trailing.pgm", "P5\n4 2\n255\n12345678" + std::string(100, 'z')), true, ""},
    };
    for (const Case& c : cases) {
        PgmImage image;
        std::string error;
        EXPECT_EQ(ReadPgmFile(c.path, 4, 2, &image, &error), c.ok) << c.path << ": " << error;
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.path << ": " << error;
        if (c.ok) {
            EXPECT_EQ(std::string(image.pixels.begin(), image.pixels.end()), "12345678");
        }
    }
}

}  // namespace
}  // namespace bayercam
