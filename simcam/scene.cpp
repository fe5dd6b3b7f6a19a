#include "simcam/scene.h"

#include "imaging/pgm.h"
#include "simcam/chart_scene.h"
#include "simcam/file_scene.h"

namespace bayercam::sim {

std::unique_ptr<Scene> MakeScene(const std::string& option, uint64_t seed, std::string* error) {
    if (option == "chart") return std::make_unique<ChartScene>(seed);
    const std::string filePrefix = "file:";
    if (option.compare(0, filePrefix.size(), filePrefix) != 0) {
        *error = "unknown scene '" + option + "' (chart or file:PATH.pgm)";
        return nullptr;
    }
    const std::string path = option.substr(filePrefix.size());
    PgmImage image;
    if (!ReadPgmFile(path, kFrameWidth, kFrameHeight, &image, error)) {
        *error = path + ": " + *error;
        return nullptr;
    }
    return std::make_unique<FileScene>(std::move(image.pixels));
}

}  // namespace bayercam::sim
