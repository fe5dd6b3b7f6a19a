#include "web/frame_encoding.h"

#include <png.h>
#include <turbojpeg.h>

#include <memory>
#include <vector>

namespace bayercam::web {
namespace {

std::vector<uint8_t> Shrink(const BgraImage& image, uint32_t shrink, uint32_t* width,
                            uint32_t* height) {
    *width = image.width / shrink;
    *height = image.height / shrink;
    std::vector<uint8_t> out(size_t{*width} * *height * 4);
    const uint32_t area = shrink * shrink;
    for (uint32_t y = 0; y < *height; ++y) {
        for (uint32_t x = 0; x < *width; ++x) {
            uint32_t sum[3] = {0, 0, 0};
            for (uint32_t dy = 0; dy < shrink; ++dy) {
                const uint8_t* p =
                    &image.pixels[((size_t{y} * shrink + dy) * image.width + size_t{x} * shrink) *
                                  4];
                for (uint32_t dx = 0; dx < shrink; ++dx, p += 4)
                    for (int c = 0; c < 3; ++c) sum[c] += p[c];
            }
            uint8_t* q = &out[(size_t{y} * *width + x) * 4];
            for (int c = 0; c < 3; ++c) q[c] = static_cast<uint8_t>(sum[c] / area);
            q[3] = 255;
        }
    }
    return out;
}

}  // namespace

std::string EncodeJpeg(const BgraImage& image, int quality, uint32_t shrink) {
    std::vector<uint8_t> shrunk;
    const uint8_t* pixels = image.pixels.data();
    uint32_t width = image.width;
    uint32_t height = image.height;
    if (shrink > 1) {
        shrunk = Shrink(image, shrink, &width, &height);
        pixels = shrunk.data();
    }
    if (width == 0 || height == 0) return {};
    std::unique_ptr<void, int (*)(tjhandle)> encoder(tjInitCompress(), tjDestroy);
    if (!encoder) return {};
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    int failed =
        tjCompress2(encoder.get(), pixels, static_cast<int>(width), 0, static_cast<int>(height),
                    TJPF_BGRA, &jpeg, &jpegSize, TJSAMP_420, quality, TJFLAG_FASTDCT);
    std::string out;
    if (!failed) out.assign(reinterpret_cast<const char*>(jpeg), jpegSize);
    tjFree(jpeg);
    return out;
}

std::string EncodePng(const BgraImage& image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = image.width;
    png.height = image.height;
    png.format = PNG_FORMAT_BGRA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.pixels.data(), 0, nullptr))
        return {};
    std::string out(size, '\0');
    if (!png_image_write_to_memory(&png, out.data(), &size, 0, image.pixels.data(), 0, nullptr))
        return {};
    out.resize(size);
    return out;
}

std::string EncodePgm(std::span<const uint8_t> samples, uint32_t width, uint32_t height) {
    std::string out = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    out.append(reinterpret_cast<const char*>(samples.data()), size_t{width} * height);
    return out;
}

Histogram HistogramOf(const BgraImage& image) {
    Histogram histogram;
    for (uint32_t y = 0; y < image.height; y += 2) {
        const uint8_t* p = &image.pixels[size_t{y} * image.width * 4];
        for (uint32_t x = 0; x < image.width; x += 2, p += 8) {
            ++histogram.blue[p[0]];
            ++histogram.green[p[1]];
            ++histogram.red[p[2]];
        }
    }
    return histogram;
}

}  // namespace bayercam::web
