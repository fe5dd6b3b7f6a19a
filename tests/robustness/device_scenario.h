// One life of a camera as the fault tests drive it, over a throw-away settings folder.
//
// Through the client (the default): add and start the device; open the capture filter, set the
// region and the exposure and read the exposure back through its property requests; agree the
// pin's format, create the pin, set the format again, and run it; take the frames; while they
// flow, set and get a camera control and an image setting; stop and close the pin, close the
// filter, stop and remove the device.
//
// Direct (`direct`): add, start, frames read with ReadFrame, an exposure change, stop and remove,
// with no capture thread: the requests come in the same order every run.
//
// Faults are armed by the caller before the first driver call (`arm`) or at the start of a phase
// (`atPhase`), so that a count taken from a phase's start means the same in every run.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "support/sim_device.h"

namespace bayercam::testing {

enum class ScenarioPhase {
    Start,        // device add and start
    StreamStart,  // filter open, properties, format, pin create, acquire, pause, run
    Frames,       // frames delivered to the client's frames
    Properties,   // get and set while streaming
    Stop,         // pin stop and close, filter close, device stop and remove
};
const char* ScenarioPhaseName(ScenarioPhase phase);

struct ScenarioOutcome {
    NTSTATUS startStatus = STATUS_UNSUCCESSFUL;
    bool streaming = false;  // the pin reached run
    int framesGood = 0;
    int framesFailed = 0;  // direct reads that failed; client waits that timed out
};

// The values files below a settings root, by path relative to it.
using SettingsSnapshot = std::map<std::string, std::string>;

class SettingsFolder {
  public:
    // A new folder below `parent`.
    explicit SettingsFolder(const std::string& parent = "/tmp");
    ~SettingsFolder();
    SettingsFolder(const SettingsFolder&) = delete;
    SettingsFolder& operator=(const SettingsFolder&) = delete;

    SettingsSnapshot Snapshot() const;
    // Replaces the folder's content with `files`.
    void Restore(const SettingsSnapshot& files) const;
    const std::string& root() const { return root_; }

  private:
    std::string root_;
};

struct ScenarioOptions {
    int frames = 2;
    bool direct = false;
    // The client's wait for one frame; a wait that expires ends the frames (the stream is
    // taken to be dead). Longer than the frame time-out, so one lost frame does not.
    uint32_t frameWaitMs = 10'000;
    // Called with the simulated device before any driver call.
    std::function<void(SimDevice&)> arm;
    // Called at the start of each phase, on the thread that drives the life.
    std::function<void(SimDevice&, ScenarioPhase)> atPhase;
    // Asked after each frame: true ends the frames early (a fault run that has seen its fault
    // take effect need not stream on).
    std::function<bool(int framesSoFar)> enoughFrames;
};

// Runs the whole life once; the device is stopped and removed whatever fails on the way.
ScenarioOutcome RunScenario(const ScenarioOptions& options);

}  // namespace bayercam::testing
