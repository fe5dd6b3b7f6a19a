#include "simcam/pgm_file.h"

#include <cctype>
#include <fstream>
#include <iterator>

namespace bayercam::sim {
namespace {

// Reads the next header number, skipping white space and comments; false when there is none or
// it does not fit in 32 bits.
bool ReadNumber(const std::vector<uint8_t>& bytes, size_t* at, uint32_t* value) {
    size_t i = *at;
    for (;;) {
        while (i < bytes.size() && std::isspace(bytes[i])) ++i;
        if (i >= bytes.size() || bytes[i] != '#') break;
        while (i < bytes.size() && bytes[i] != '\n' && bytes[i] != '\r') ++i;
    }
    if (i >= bytes.size() || !std::isdigit(bytes[i])) return false;
    uint64_t number = 0;
    while (i < bytes.size() && std::isdigit(bytes[i])) {
        number = number * 10 + (bytes[i] - '0');
        if (number > UINT32_MAX) return false;
        ++i;
    }
    *value = static_cast<uint32_t>(number);
    *at = i;
    return true;
}

}  // namespace

bool ParsePgm(const std::vector<uint8_t>& bytes, GrayImage* image, std::string* error) {
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '5') {
        *error = "not a binary PGM (P5) image";
        return false;
    }
    size_t at = 2;
    uint32_t width, height, maximum;
    if (!ReadNumber(bytes, &at, &width) || !ReadNumber(bytes, &at, &height) ||
        !ReadNumber(bytes, &at, &maximum)) {
        *error = "PGM header is incomplete";
        return false;
    }
    if (width == 0 || height == 0 || maximum == 0 || maximum > 255) {
        *error = "PGM must have a size and 8-bit samples (maximum value 1..255)";
        return false;
    }
    // Exactly one white-space byte separates the header from the samples.
    if (at >= bytes.size() || !std::isspace(bytes[at])) {
        *error = "PGM header is incomplete";
        return false;
    }
    ++at;
    uint64_t size = uint64_t{width} * height;
    if (bytes.size() - at < size) {
        *error = "PGM pixel data is shorter than its size";
        return false;
    }
    image->width = width;
    image->height = height;
    image->pixels.assign(bytes.begin() + static_cast<ptrdiff_t>(at),
                         bytes.begin() + static_cast<ptrdiff_t>(at + size));
    return true;
}

bool ReadPgmFile(const std::string& path, GrayImage* image, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot open " + path;
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
    if (!ParsePgm(bytes, image, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

}  // namespace bayercam::sim
