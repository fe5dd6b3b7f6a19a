// A simulated camera on a USB bus with the driver loaded over it, for tests that need the whole
// path from a driver call to the camera and back.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "core/camera_device.h"
#include "core/device_lifecycle.h"
#include "platform/ks/ks_device.h"
#include "platform/usb_stack/usb_bus.h"
#include "simcam/sim_camera.h"
#include "support/leak_check.h"
#include "usb/internal_request.h"

namespace bayercam::testing {

class SimDevice {
  public:
    explicit SimDevice(sim::SimCameraOptions options = {})
        : camera(std::move(options)), bus(camera) {
        DriverEntry(&driver, "test");
    }
    ~SimDevice() { Remove(); }

    NTSTATUS Add() { return KsPnpAddDevice(&driver, bus.PhysicalDevice(), &ksDevice); }
    NTSTATUS Start() { return KsPnpStartDevice(ksDevice); }
    void Stop() { KsPnpStopDevice(ksDevice); }
    void Remove() {
        if (ksDevice) KsPnpRemoveDevice(ksDevice);
        ksDevice = nullptr;
    }
    // Adds and starts, failing the test when either does not succeed.
    void AddAndStart() {
        ASSERT_EQ(Add(), STATUS_SUCCESS);
        ASSERT_EQ(Start(), STATUS_SUCCESS);
    }

    CameraDevice* device() { return GetCameraDevice(ksDevice); }
    std::vector<BusRecord> Records() { return bus.Recorder().Records(); }
    std::vector<BusRecord> Records(BusRequestKind kind) {
        std::vector<BusRecord> matching;
        for (BusRecord& record : Records()) {
            if (record.kind == kind) matching.push_back(std::move(record));
        }
        return matching;
    }

    sim::SimCamera camera;  // outlives the bus, which outlives the device
    UsbBus bus;
    DRIVER_OBJECT driver{};
    KSDEVICE* ksDevice = nullptr;
};

// A leak-checked fixture around one simulated camera, which is removed before the count.
class SimDeviceTest : public LeakCheckedTest<> {
  protected:
    void ReleaseAll() override { sim_.reset(); }
    // A new camera in place of the old one, added and started.
    SimDevice& Started(sim::SimCameraOptions options = {}) {
        sim_ = std::make_unique<SimDevice>(std::move(options));
        sim_->AddAndStart();
        return *sim_;
    }

    std::unique_ptr<SimDevice> sim_;
};

}  // namespace bayercam::testing
