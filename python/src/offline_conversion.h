// One raw sensor frame through the colour pipeline outside any camera: the default settings plus
// the caller's, the bytes a live stream of that frame delivers, top row first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bayercam::python {

struct Region {
    int32_t x, y, width, height;
};

struct OfflineImage {
    std::vector<uint8_t> bgra;  // width x height x 4, rows packed, top row first
    int32_t width = 0;
    int32_t height = 0;
};

// `raw` is kSensorHeight rows of kSensorWidth samples, `stride` bytes apart. `settings` are
// control names and values; names of controls that act on the sensor rather than the pipeline
// (Exposure, GlobalGain, ...) are accepted and change nothing, since the raw frame already holds
// their effect. Empty `*error` and an image, or `*error` set (an unknown name, a region narrower
// than 8 pixels, no memory).
OfflineImage ConvertOffline(const uint8_t* raw, int64_t stride,
                            const std::vector<std::pair<std::string, int32_t>>& settings,
                            const std::optional<Region>& region, std::string* error);

}  // namespace bayercam::python
