// Any bytes as a PGM file, as the file scene and the tool's convert command read one: the parser
// may refuse them, saying why, but what it accepts is a whole image that survives being written
// and read back.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "imaging/pgm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using bayercam::PgmImage;
    PgmImage image;
    std::string error;
    if (!bayercam::ParsePgm(data, size, &image, &error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (image.width == 0 || image.height == 0 ||
        image.pixels.size() != uint64_t{image.width} * image.height) {
        std::abort();
    }
    const std::vector<uint8_t> written = bayercam::FormatPgm(image);
    PgmImage again;
    if (!bayercam::ParsePgm(written.data(), written.size(), &again, &error) ||
        again.width != image.width || again.height != image.height ||
        again.pixels != image.pixels) {
        std::abort();
    }
    return 0;
}
