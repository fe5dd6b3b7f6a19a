#include "imaging/pgm.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

namespace bayercam {
namespace {

// Comments may pad a header, but no real header comes near this; a longer one is not a PGM.
constexpr size_t kMaxHeaderBytes = 4096;

// Reads the header's whitespace-separated decimal fields, skipping comments. Running out of
// bytes is told apart from a malformed field, so a reader can fetch more and try again.
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
        // Digits up to the last byte may go on in bytes not read yet.
        if (pos_ >= size_) exhausted_ = true;
        *value = v;
        return digits > 0 && !exhausted_;
    }

    // The single whitespace byte that ends the header.
    bool EndOfHeader() {
        if (pos_ >= size_) exhausted_ = true;
        if (exhausted_ || !IsSpace(data_[pos_])) return false;
        ++pos_;
        return true;
    }

    size_t position() const { return pos_; }
    // A field failed only because the bytes ran out.
    bool exhausted() const { return exhausted_; }

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
    bool exhausted_ = false;
};

struct PgmHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    size_t bytes = 0;  // of the header itself
};

enum class HeaderResult { Complete, NeedMore, Invalid };

HeaderResult ParseHeader(const uint8_t* data, size_t size, PgmHeader* out, std::string* error) {
    if (size == 0 || (size == 1 && data[0] == 'P')) return HeaderResult::NeedMore;
    if (data[0] != 'P' || data[1] != '5') {
        *error = "not a binary PGM (P5) image";
        return HeaderResult::Invalid;
    }
    HeaderReader header(data, size);
    uint64_t width = 0;
    uint64_t height = 0;
    uint64_t maxval = 0;
    const bool sizeOk = header.Number(&width) && header.Number(&height) && width > 0 && height > 0;
    if (!sizeOk) {
        *error = "PGM header has no valid width and height";
    } else if (!header.Number(&maxval) || !header.EndOfHeader()) {
        *error = "PGM header has no valid maximum value";
    } else if (maxval != 255) {
        *error = "PGM maximum value is " + std::to_string(maxval) + ", not 255";
        return HeaderResult::Invalid;
    } else {
        *out = {static_cast<uint32_t>(width), static_cast<uint32_t>(height), header.position()};
        return HeaderResult::Complete;
    }
    return header.exhausted() ? HeaderResult::NeedMore : HeaderResult::Invalid;
}

// Reads up to `size` bytes, fewer only at the end of the input; -1 with errno on failure.
ssize_t ReadUpTo(int fd, uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

std::string SystemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Reads the header a byte at a time up to its end, so not one pixel byte is read before the
// header says how many there are.
bool ReadHeader(int fd, PgmHeader* header, std::string* error) {
    std::vector<uint8_t> bytes;
    while (bytes.size() < kMaxHeaderBytes) {
        uint8_t byte;
        ssize_t n = ReadUpTo(fd, &byte, 1);
        if (n < 0) {
            *error = SystemError("read failed");
            return false;
        }
        if (n == 1) bytes.push_back(byte);
        HeaderResult result = ParseHeader(bytes.data(), bytes.size(), header, error);
        if (result == HeaderResult::Complete) return true;
        if (result == HeaderResult::Invalid) return false;
        if (n == 0) {
            if (bytes.empty()) *error = "empty file, not a PGM image";
            return false;
        }
    }
    *error = "PGM header longer than " + std::to_string(kMaxHeaderBytes) + " bytes";
    return false;
}

}  // namespace

bool ParsePgm(const uint8_t* data, size_t size, PgmImage* image, std::string* error) {
    PgmHeader header;
    HeaderResult result = ParseHeader(data, size, &header, error);
    if (result != HeaderResult::Complete) {
        if (error->empty()) *error = "not a binary PGM (P5) image";
        return false;
    }
    const uint64_t pixels = uint64_t{header.width} * header.height;
    const size_t available = size - header.bytes;
    if (available < pixels) {
        *error = "PGM data truncated: " + std::to_string(available) + " of " +
                 std::to_string(pixels) + " pixel bytes";
        return false;
    }
    image->width = header.width;
    image->height = header.height;
    const uint8_t* first = data + header.bytes;
    image->pixels.assign(first, first + pixels);
    return true;
}

bool ReadPgmFile(const std::string& path, uint32_t width, uint32_t height, PgmImage* image,
                 std::string* error) {
    // Not blocking at the open: a FIFO without a writer must not hang it.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = SystemError("cannot open");
        return false;
    }
    struct stat info;
    bool ok = fstat(fd, &info) == 0;
    if (!ok) {
        *error = SystemError("cannot read");
    } else if (S_ISDIR(info.st_mode)) {
        *error = "is a directory, not a PGM image";
        ok = false;
    } else {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    PgmHeader header;
    ok = ok && ReadHeader(fd, &header, error);
    if (ok && (header.width != width || header.height != height)) {
        *error = "frame is " + std::to_string(header.width) + "x" + std::to_string(header.height) +
                 ", expected " + std::to_string(width) + "x" + std::to_string(height);
        ok = false;
    }
    if (ok) {
        // Exactly the bytes promised: whatever follows is not read.
        image->width = width;
        image->height = height;
        image->pixels.resize(size_t{width} * height);
        ssize_t n = ReadUpTo(fd, image->pixels.data(), image->pixels.size());
        if (n < 0) {
            *error = SystemError("read failed");
            ok = false;
        } else if (size_t(n) < image->pixels.size()) {
            *error = "PGM data truncated: " + std::to_string(n) + " of " +
                     std::to_string(image->pixels.size()) + " pixel bytes";
            ok = false;
        }
    }
    close(fd);
    return ok;
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
