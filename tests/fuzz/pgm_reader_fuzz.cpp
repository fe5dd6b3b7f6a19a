// Any bytes as a PGM file, as the file scene and the tool's convert command read one: the parser
// may refuse them, but what it accepts must be a whole image.
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "simcam/pgm_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly the input's size, so that reading past it lands in a sanitizer redzone.
    const std::vector<uint8_t> bytes(data, data + size);
    bayercam::sim::GrayImage image;
    std::string error;
    if (bayercam::sim::ParsePgm(bytes, &image, &error)) {
        if (image.width == 0 || image.height == 0 ||
            image.pixels.size() != uint64_t{image.width} * image.height) {
            std::abort();
        }
    } else if (error.empty()) {
        std::abort();  // a refusal says why
    }
    return 0;
}
