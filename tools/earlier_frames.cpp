#include "tools/earlier_frames.h"

#include <filesystem>
#include <system_error>

namespace bayercam::tool {

std::vector<std::string> EarlierFrameFiles(const std::string& directory) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("frame-", 0) == 0) files.push_back(entry.path().string());
    }
    return files;
}

bool RemoveEarlierFrameFiles(const std::string& directory, std::string* error) {
    for (const std::string& file : EarlierFrameFiles(directory)) {
        std::error_code failure;
        if (!std::filesystem::remove(file, failure) && failure) {
            *error = file + ": " + failure.message();
            return false;
        }
    }
    return true;
}

}  // namespace bayercam::tool
