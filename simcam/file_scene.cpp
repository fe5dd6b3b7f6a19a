#include "simcam/file_scene.h"

#include <cstring>

namespace bayercam::sim {

FileScene::FileScene(std::vector<uint8_t> frame) : frame_(std::move(frame)) {}

void FileScene::Render(const SensorSettings&, uint64_t, uint8_t* out) {
    std::memcpy(out, frame_.data(), kFrameBytes);
}

}  // namespace bayercam::sim
