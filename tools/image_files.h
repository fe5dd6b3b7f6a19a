// Image files the tools write: PNG of an RGB32 client frame, PGM of a raw camera frame, and the
// file handling that keeps a half-written file from ever carrying its final name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace bayercam::tool {

// An RGB32 image (blue, green, red, 255) as a client frame holds it.
struct Rgb32Image {
    const uint8_t* pixels;
    int32_t width;
    int32_t height;
    uint32_t pitch;  // bytes from one stored row to the next
    bool bottomUp;   // the last stored row is the top of the picture
};

// PNG, 8-bit RGB, upright, fast compression (it is written at the camera's frame rate).
bool WritePng(std::FILE* out, const Rgb32Image& image, std::string* error);
// Binary PGM of `height` rows of `width` samples, rows `stride` bytes apart.
bool WritePgm(std::FILE* out, const uint8_t* samples, int32_t width, int32_t height,
              uint32_t stride, std::string* error);

// Writes PATH.part through `write`, then renames it to PATH: an interrupted write leaves no
// file under the final name.
bool WriteFileWhole(const std::string& path,
                    const std::function<bool(std::FILE*, std::string*)>& write,
                    std::string* error);

}  // namespace bayercam::tool
