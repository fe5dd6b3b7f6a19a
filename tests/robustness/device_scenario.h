// One life of a camera as the fault tests drive it: add, start, a few frames, a control change,
// stop and remove, over a throw-away settings folder. Faults are armed by the caller between the
// construction of the simulated camera and the first driver call.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "support/sim_device.h"

namespace bayercam::testing {

struct ScenarioOutcome {
    NTSTATUS startStatus = STATUS_UNSUCCESSFUL;
    int framesGood = 0;
    int framesFailed = 0;
};

// The values files below a settings root, by path relative to it.
using SettingsSnapshot = std::map<std::string, std::string>;

class SettingsFolder {
  public:
    SettingsFolder();
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
    // Called with the simulated device before any driver call: arm the faults here.
    std::function<void(SimDevice&)> arm;
    // Called while streaming, between frames (removal, for instance).
    std::function<void(SimDevice&, int frame)> betweenFrames;
};

// Runs the whole life once; the device is stopped and removed whatever fails on the way.
ScenarioOutcome RunScenario(const ScenarioOptions& options);

}  // namespace bayercam::testing
