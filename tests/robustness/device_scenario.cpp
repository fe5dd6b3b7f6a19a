#include "robustness/device_scenario.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "bayercam/client.h"
#include "bayercam/video_stream.h"
#include "camera/camera_controls.h"
#include "core/camera_device.h"
#include "platform/registry/registry.h"
#include "props/control_requests.h"
#include "simcam/file_scene.h"
#include "simcam/image_stream.h"
#include "simcam/scene.h"
#include "stream/capture_descriptors.h"
#include "usb/frame_read.h"

namespace bayercam::testing {

SettingsFolder::SettingsFolder(const std::string& parent) {
    std::string pattern = parent + "/bayercam-robust-XXXXXX";
    root_ = mkdtemp(pattern.data());
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
    // Replaced from outside, as by another process: what this one read from the old folders
    // (which a new folder may inherit with a reused inode) no longer holds.
    RegistrySetSettingsRoot(root_);
}

namespace {

constexpr int32_t kExposure = 40;

void Arrive(const ScenarioOptions& options, SimDevice& sim, ScenarioPhase phase) {
    if (options.atPhase) options.atPhase(sim, phase);
}

ControlRequest Control(int32_t value) {
    ControlRequest request{};
    request.value = value;
    return request;
}

// Frames read straight from the device, with no capture thread.
void ReadDirectly(const ScenarioOptions& options, SimDevice& sim, ScenarioOutcome* outcome) {
    sim.device()->rawFrameBytes.store(sim::kFrameBytes);
    std::vector<uint8_t> frame(sim::kFrameBytes);
    for (int i = 0; i < options.frames; ++i) {
        bool ok = false;
        ReadFrame(sim.device(), frame.data(), &ok);
        ++(ok ? outcome->framesGood : outcome->framesFailed);
        if (options.enoughFrames && options.enoughFrames(i + 1)) break;
    }
    Arrive(options, sim, ScenarioPhase::Properties);
    SetExposure(sim.device(), kExposure);
}

// Frames through the capture filter and pin, as an application takes them.
void StreamThroughClient(const ScenarioOptions& options, SimDevice& sim, ScenarioOutcome* outcome) {
    client::Filter filter;
    if (!filter.Open(*sim.ksDevice, sim.device()->captureDescriptors->filter).ok()) return;
    // A small region keeps the conversion of each frame cheap.
    RoiRequest region{};
    region.x = 64;
    region.y = 32;
    region.width = 128;
    region.height = 64;
    filter.SetProperty(ControlPropertySetId, 44, &region);
    ControlRequest exposure = Control(kExposure);
    filter.SetProperty(ControlPropertySetId, 2, &exposure);
    filter.GetProperty(ControlPropertySetId, 2, &exposure);

    client::VideoStream stream;
    if (stream.Open(filter, {.frames = 4}).ok()) {
        // The format again, as a client confirming its choice does.
        client::Pin& pin = stream.GetPin();
        const KS_DATAFORMAT_VIDEOINFOHEADER format = stream.Format();
        pin.SetFormat(&format, sizeof format);
        outcome->streaming = stream.Start().ok();
    }
    if (outcome->streaming) {
        Arrive(options, sim, ScenarioPhase::Frames);
        for (int i = 0; i < options.frames; ++i) {
            client::Frame* frame = nullptr;
            if (!stream.Next(options.frameWaitMs, &frame).ok()) {
                ++outcome->framesFailed;
                break;
            }
            ++outcome->framesGood;
            stream.Requeue(frame);
            if (options.enoughFrames && options.enoughFrames(i + 1)) break;
        }
        // The capture thread stops here, so that what follows makes the same requests in every
        // run; the stream keeps its buffers and processor.
        stream.Pause();
    }
    Arrive(options, sim, ScenarioPhase::Properties);
    ControlRequest brightness = Control(300);
    filter.SetProperty(ControlPropertySetId, 20, &brightness);
    filter.GetProperty(ControlPropertySetId, 20, &brightness);
    ControlRequest gain = Control(100);
    filter.SetProperty(ControlPropertySetId, 6, &gain);
    filter.GetProperty(ControlPropertySetId, 6, &gain);
    Arrive(options, sim, ScenarioPhase::Stop);
    stream.Close();
    filter.Close();
}

}  // namespace

const char* ScenarioPhaseName(ScenarioPhase phase) {
    switch (phase) {
        case ScenarioPhase::Start:
            return "start";
        case ScenarioPhase::StreamStart:
            return "stream start";
        case ScenarioPhase::Frames:
            return "frames";
        case ScenarioPhase::Properties:
            return "properties";
        case ScenarioPhase::Stop:
            return "stop";
    }
    return "?";
}

ScenarioOutcome RunScenario(const ScenarioOptions& options) {
    ScenarioOutcome outcome;
    SimDevice sim;
    RegistryRegisterDevice(sim.bus.PhysicalDevice(), "cam0");
    if (options.arm) options.arm(sim);
    Arrive(options, sim, ScenarioPhase::Start);
    NTSTATUS added = sim.Add();
    if (NT_SUCCESS(added)) {
        outcome.startStatus = sim.Start();
        sim::SimImageStream images(
            sim.camera, std::make_unique<sim::FileScene>(std::vector<uint8_t>(sim::kFrameBytes)),
            0.0);
        if (NT_SUCCESS(outcome.startStatus)) {
            Arrive(options, sim, ScenarioPhase::StreamStart);
            if (options.direct) {
                Arrive(options, sim, ScenarioPhase::Frames);
                ReadDirectly(options, sim, &outcome);
                Arrive(options, sim, ScenarioPhase::Stop);
            } else {
                StreamThroughClient(options, sim, &outcome);
            }
        }
        sim.Stop();
        sim.Remove();
    }
    RegistryUnregisterDevice(sim.bus.PhysicalDevice());
    return outcome;
}

}  // namespace bayercam::testing
