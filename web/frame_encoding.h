// One BGRA frame as the files a browser or a user takes: JPEG for the live view, PNG and PGM for
// snapshots, and the histogram the page draws.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace bayercam::web {

// Rows top to bottom, 4 bytes a pixel (blue, green, red, 255), no gap between rows.
struct BgraImage {
    std::span<const uint8_t> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
};

// `shrink` 1, 2 or 4 divides both sides (averaging blocks), for clients that cannot take the
// full picture at the camera's rate. Empty on failure.
std::string EncodeJpeg(const BgraImage& image, int quality, uint32_t shrink);
std::string EncodePng(const BgraImage& image);
// 8-bit binary PGM of `width` x `height` samples.
std::string EncodePgm(std::span<const uint8_t> samples, uint32_t width, uint32_t height);

struct Histogram {
    std::array<uint32_t, 256> red{}, green{}, blue{};
};
// Of every second pixel of every second row: enough for the eye, a quarter of the work.
Histogram HistogramOf(const BgraImage& image);

}  // namespace bayercam::web
