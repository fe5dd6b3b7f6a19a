#include "robustness/device_scenario.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "camera/camera_controls.h"
#include "platform/registry.h"
#include "simcam/file_scene.h"
#include "simcam/image_stream.h"
#include "simcam/scene.h"
#include "usb/frame_read.h"

namespace bayercam::testing {

SettingsFolder::SettingsFolder() {
    char pattern[] = "/tmp/bayercam-robust-XXXXXX";
    root_ = mkdtemp(pattern);
    RegistrySetSettingsRoot(root_);
}

SettingsFolder::~SettingsFolder() {
    RegistrySetSettingsRoot("");
    std::error_code error;
    std::filesystem::remove_all(root_, error);
}

SettingsSnapshot SettingsFolder::Snapshot() const {
    SettingsSnapshot files;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root_, error)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        files[std::filesystem::relative(entry.path(), root_).string()] = text.str();
    }
    return files;
}

void SettingsFolder::Restore(const SettingsSnapshot& files) const {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root_, error)) {
        std::filesystem::remove_all(entry.path(), error);
    }
    for (const auto& [path, text] : files) {
        std::filesystem::path full = std::filesystem::path(root_) / path;
        std::filesystem::create_directories(full.parent_path());
        std::ofstream(full, std::ios::binary) << text;
    }
}

ScenarioOutcome RunScenario(const ScenarioOptions& options) {
    ScenarioOutcome outcome;
    SimDevice sim;
    RegistryRegisterDevice(sim.bus.PhysicalDevice(), "cam0");
    if (options.arm) options.arm(sim);
    NTSTATUS added = sim.Add();
    if (NT_SUCCESS(added)) {
        outcome.startStatus = sim.Start();
        std::vector<uint8_t> frame(sim::kFrameBytes);
        sim::SimImageStream images(
            sim.camera, std::make_unique<sim::FileScene>(std::vector<uint8_t>(frame)), 0.0);
        if (NT_SUCCESS(outcome.startStatus)) {
            sim.device()->rawFrameBytes.store(sim::kFrameBytes);
            for (int i = 0; i < options.frames; ++i) {
                if (options.betweenFrames) options.betweenFrames(sim, i);
                bool ok = false;
                ReadFrame(sim.device(), frame.data(), &ok);
                ++(ok ? outcome.framesGood : outcome.framesFailed);
            }
            SetExposure(sim.device(), 40);
        }
        sim.Stop();
        sim.Remove();
    }
    RegistryUnregisterDevice(sim.bus.PhysicalDevice());
    return outcome;
}

}  // namespace bayercam::testing
