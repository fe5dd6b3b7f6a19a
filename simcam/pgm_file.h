// Reading 8-bit binary PGM images (P5, maximum value at most 255).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bayercam::sim {

struct GrayImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;  // rows top to bottom, no gap
};

// Parses a whole PGM file's bytes; false with `*error` set when they are not an 8-bit binary
// PGM or the pixel data is short.
bool ParsePgm(const std::vector<uint8_t>& bytes, GrayImage* image, std::string* error);
// Reads and parses the file at `path`.
bool ReadPgmFile(const std::string& path, GrayImage* image, std::string* error);

}  // namespace bayercam::sim
