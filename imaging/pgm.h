// 8-bit binary PGM (P5) images: raw frames for the converter and scenes for the simulated
// camera.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bayercam {

struct PgmImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;  // width x height samples, rows top to bottom
};

// Parses a binary PGM with maxval 255 (comments allowed in the header, bytes after the pixels
// ignored). On failure returns false and a one-line reason in `error`.
bool ParsePgm(const uint8_t* data, size_t size, PgmImage* image, std::string* error);
// Reads a PGM of exactly `width` x `height` from the file (or device, or pipe) at `path`: the
// header first, then exactly the pixel bytes it promises and nothing beyond, so any input ends
// soon. Another size is refused before a pixel is read.
bool ReadPgmFile(const std::string& path, uint32_t width, uint32_t height, PgmImage* image,
                 std::string* error);

// The file form of an image: header "P5\n<width> <height>\n255\n", then the pixels.
std::vector<uint8_t> FormatPgm(const PgmImage& image);
bool WritePgmFile(const std::string& path, const PgmImage& image, std::string* error);

}  // namespace bayercam
