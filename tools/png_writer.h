// PNG files of converted images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace bayercam::tool {

// Writes `height` rows of `width` 4-byte pixels (blue, green, red, unused) as an 8-bit RGB PNG
// into an open file, first row at the top. Rows are `rowPitch` bytes apart (negative to write a
// bottom-up buffer upright from its last row). On failure returns false with a one-line reason
// in `error`.
bool WritePngBgra(std::FILE* file, const uint8_t* firstRow, uint32_t width, uint32_t height,
                  ptrdiff_t rowPitch, std::string* error);

}  // namespace bayercam::tool
