#include "tools/png_writer.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace bayercam::tool {
namespace {

// libpng reports errors by longjmp; the message is kept for the caller.
struct ErrorContext {
    char message[256];
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* context = static_cast<ErrorContext*>(png_get_error_ptr(png));
    std::snprintf(context->message, sizeof context->message, "%s", message);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Plain C state only between setjmp and longjmp: nothing with a destructor lives here.
bool WriteRows(std::FILE* file, const uint8_t* firstRow, uint32_t width, uint32_t height,
               ptrdiff_t rowPitch, ErrorContext* context) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, context, OnPngError, OnPngWarning);
    if (!png) {
        std::snprintf(context->message, sizeof context->message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Speed over size: live captures write a frame every 33 ms.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    // Rows come as blue, green, red and one byte to drop.
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (uint32_t y = 0; y < height; ++y) {
        png_write_row(png, firstRow + static_cast<ptrdiff_t>(y) * rowPitch);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool WritePngBgra(std::FILE* file, const uint8_t* firstRow, uint32_t width, uint32_t height,
                  ptrdiff_t rowPitch, std::string* error) {
    ErrorContext context{};
    errno = 0;
    if (!WriteRows(file, firstRow, width, height, rowPitch, &context)) {
        // A file that refused the bytes says why better than the encoder's "Write Error".
        const int cause = errno;
        *error = std::ferror(file) && cause != 0 ? std::strerror(cause)
                                                 : std::string("PNG error: ") + context.message;
        return false;
    }
    return true;
}

}  // namespace bayercam::tool
