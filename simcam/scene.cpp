#include "simcam/scene.h"

#include "simcam/chart_scene.h"
#include "simcam/file_scene.h"
#include "simcam/pgm_file.h"

namespace bayercam::sim {

std::unique_ptr<Scene> MakeScene(const std::string& option, uint64_t seed, std::string* error) {
    if (option == "chart") return std::make_unique<ChartScene>(seed);
    const std::string filePrefix = "file:";
    if (option.compare(0, filePrefix.size(), filePrefix) != 0) {
        *error = "unknown scene '" + option + "' (chart or file:PATH.pgm)";
        return nullptr;
    }
    GrayImage image;
    if (!ReadPgmFile(option.substr(filePrefix.size()), &image, error)) return nullptr;
    if (image.width != kFrameWidth || image.height != kFrameHeight) {
        *error = option.substr(filePrefix.size()) + ": the scene must be " +
                 std::to_string(kFrameWidth) + " x " + std::to_string(kFrameHeight) + ", not " +
                 std::to_string(image.width) + " x " + std::to_string(image.height);
        return nullptr;
    }
    return std::make_unique<FileScene>(std::move(image.pixels));
}

}  // namespace bayercam::sim
