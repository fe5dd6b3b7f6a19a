#include "imaging/pgm.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

namespace bayercam {
namespace {

// Reads the header's whitespace-separated decimal fields, skipping comments.
class HeaderReader {
  public:
    HeaderReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Number(uint64_t* value) {
        SkipSpaceAndComments();
        size_t digits = 0;
        uint64_t v = 0;
        while (pos_ < size_ && data_[pos_] >= '0' && data_[pos_] <= '9') {
            v = v * 10 + (data_[pos_++] - '0');
            if (v > std::numeric_limits<uint32_t>::max()) return false;
            ++digits;
        }
        *value = v;
        return digits > 0;
    }

    // The single whitespace byte that ends the header.
    bool EndOfHeader() {
        if (pos_ >= size_ || !IsSpace(data_[pos_])) return false;
        ++pos_;
        return true;
    }

    size_t position() const { return pos_; }

  private:
    static bool IsSpace(uint8_t c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }

    void SkipSpaceAndComments() {
        while (pos_ < size_) {
            if (IsSpace(data_[pos_])) {
                ++pos_;
            } else if (data_[pos_] == '#') {
                while (pos_ < size_ && data_[pos_] != '\n') ++pos_;
            } else {
                return;
            }
        }
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 2;  // after the magic number
};

}  // namespace

bool ParsePgm(const uint8_t* data, size_t size, PgmImage* image, std::string* error) {
    if (size < 2 || data[0] != 'P' || data[1] != '5') {
        *error = "not a binary PGM (P5) image";
        return false;
    }
    HeaderReader header(data, size);
    uint64_t width = 0;
    uint64_t height = 0;
    uint64_t maxval = 0;
    if (!header.Number(&width) || !header.Number(&height) || width == 0 || height == 0) {
        *error = "PGM header has no valid width and height";
        return false;
    }
    if (!header.Number(&maxval) || !header.EndOfHeader()) {
        *error = "PGM header has no valid maximum value";
        return false;
    }
    if (maxval != 255) {
        *error = "PGM maximum value is " + std::to_string(maxval) + ", not 255";
        return false;
    }
    const uint64_t pixels = width * height;
    const size_t available = size - header.position();
    if (available < pixels) {
        *error = "PGM data truncated: " + std::to_string(available) + " of " +
                 std::to_string(pixels) + " pixel bytes";
        return false;
    }
    image->width = static_cast<uint32_t>(width);
    image->height = static_cast<uint32_t>(height);
    const uint8_t* first = data + header.position();
    image->pixels.assign(first, first + pixels);
    return true;
}

bool ReadPgmFile(const std::string& path, PgmImage* image, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot open: " + std::string(std::strerror(errno));
        return false;
    }
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    if (file.bad()) {
        *error = "read failed";
        return false;
    }
    return ParsePgm(data.data(), data.size(), image, error);
}

std::vector<uint8_t> FormatPgm(const PgmImage& image) {
    const std::string header =
        "P5\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    std::vector<uint8_t> data(header.begin(), header.end());
    data.insert(data.end(), image.pixels.begin(), image.pixels.end());
    return data;
}

bool WritePgmFile(const std::string& path, const PgmImage& image, std::string* error) {
    const std::vector<uint8_t> data = FormatPgm(image);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        *error = "cannot create: " + std::string(std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        *error = "write failed";
        return false;
    }
    return true;
}

}  // namespace bayercam
