#include "tools/image_files.h"

#include <png.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace bayercam::tool {
namespace {

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void PngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    *error = std::string("PNG: ") + message;
    png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

}  // namespace

bool WritePng(std::FILE* out, const Rgb32Image& image, std::string* error) {
    if (image.width <= 0 || image.height <= 0) {
        *error = "PNG: empty image";
        return false;
    }
    std::vector<png_bytep> rows(size_t(image.height));
    for (int32_t row = 0; row < image.height; ++row) {
        int32_t stored = image.bottomUp ? image.height - 1 - row : row;
        rows[size_t(row)] = const_cast<png_bytep>(image.pixels + size_t(stored) * image.pitch);
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, error, &PngError, &PngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        *error = "PNG: out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // Speed over size: one filter and the fastest deflate level.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::ferror(out)) {
        *error = SystemError("PNG");
        return false;
    }
    return true;
}

bool WritePgm(std::FILE* out, const uint8_t* samples, int32_t width, int32_t height,
              uint32_t stride, std::string* error) {
    std::fprintf(out, "P5\n%d %d\n255\n", width, height);
    for (int32_t row = 0; row < height; ++row) {
        if (std::fwrite(samples + size_t(row) * stride, 1, size_t(width), out) != size_t(width)) {
            *error = SystemError("PGM");
            return false;
        }
    }
    return true;
}

bool WriteFileWhole(const std::string& path,
                    const std::function<bool(std::FILE*, std::string*)>& write,
                    std::string* error) {
    const std::string partial = path + ".part";
    std::FILE* out = std::fopen(partial.c_str(), "wb");
    if (!out) {
        *error = SystemError(partial);
        return false;
    }
    bool ok = write(out, error);
    if (std::fclose(out) != 0 && ok) {
        *error = SystemError(partial);
        ok = false;
    }
    if (ok && std::rename(partial.c_str(), path.c_str()) != 0) {
        *error = SystemError(path);
        ok = false;
    }
    if (!ok) std::remove(partial.c_str());
    return ok;
}

}  // namespace bayercam::tool
