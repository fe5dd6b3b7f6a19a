// A throw-away settings root with one registered device, for tests of the registry stand-in.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/registry/registry.h"

namespace bayercam::test_support {

class TestSettingsRoot {
  public:
    explicit TestSettingsRoot(const std::string& instanceId = "cam0") : instanceId_(instanceId) {
        char pattern[] = "/tmp/bayercam-registry-XXXXXX";
        root_ = mkdtemp(pattern);
        // Searchable by everyone, so a test can drop its privileges and still reach it.
        chmod(root_.c_str(), 0755);
        RegistrySetSettingsRoot(root_);
        RegistryRegisterDevice(&device_, instanceId_);
    }
    ~TestSettingsRoot() {
        RegistryUnregisterDevice(&device_);
        RegistrySetSettingsRoot("");
        std::error_code error;
        for (auto& entry : std::filesystem::recursive_directory_iterator(root_, error)) {
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, error);
        }
        std::filesystem::remove_all(root_, error);
    }

    DEVICE_OBJECT* device() { return &device_; }
    const std::string& root() const { return root_; }
    std::string InstanceFolder() const { return root_ + "/" + instanceId_; }
    // The values file of a key below the driver key, given as a relative folder path.
    std::string ValuesFile(const std::string& keyFolder) const {
        return InstanceFolder() + "/" + keyFolder + "/values";
    }

  private:
    std::string instanceId_;
    std::string root_;
    DEVICE_OBJECT device_{};
};

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace bayercam::test_support
