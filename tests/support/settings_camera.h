// A simulated camera whose device instance is bound to a throw-away settings folder, started
// after the test has written what its saved settings should hold.
#pragma once

#include <memory>
#include <string>

#include "platform/registry/registry.h"
#include "support/registry_test_root.h"
#include "support/sim_device.h"
#include "support/wire_log.h"

namespace bayercam::testing {

class SettingsCamera {
  public:
    explicit SettingsCamera(test_support::TestSettingsRoot& root,
                            sim::SimCameraOptions options = {})
        : root_(root), sim_(std::make_unique<SimDevice>(std::move(options))) {
        RegistryRegisterDevice(sim_->bus.PhysicalDevice(), kInstance);
    }
    ~SettingsCamera() {
        sim_->Remove();
        RegistryUnregisterDevice(sim_->bus.PhysicalDevice());
    }

    // Writes the "Settings" group's file ("Name = dword:N" lines), then adds and starts.
    void StartWith(const std::string& values) {
        if (!values.empty()) test_support::WriteWholeFile(ValuesFile(), values);
        sim_->AddAndStart();
    }
    std::string ValuesFile() const { return root_.root() + "/" + kInstance + "/Settings/values"; }
    CameraDevice* device() { return sim_->device(); }
    SimDevice& sim() { return *sim_; }
    std::vector<std::string> Wire() { return WireLog(sim_->Records()); }

    static constexpr const char* kInstance = "camera";

  private:
    test_support::TestSettingsRoot& root_;
    std::unique_ptr<SimDevice> sim_;
};

}  // namespace bayercam::testing
