// PNG files of converted images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace bayercam::tool {

// Writes `height` rows of `width` 4-byte pixels (blue, green, red, unused) as an 8-bit RGB PNG,
// first row at the top. Rows are `rowPitch` bytes apart (negative to write a bottom-up buffer
// upright from its last row). On failure returns false with a one-line reason in `error`.
bool WritePngBgra(const std::string& path, const uint8_t* firstRow, uint32_t width, uint32_t height,
                  ptrdiff_t rowPitch, std::string* error);
// The same into an open file (standard output, a file being written whole).
bool WritePngBgra(std::FILE* file, const uint8_t* firstRow, uint32_t width, uint32_t height,
                  ptrdiff_t rowPitch, std::string* error);

}  // namespace bayercam::tool
