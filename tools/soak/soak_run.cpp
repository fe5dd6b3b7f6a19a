#include "tools/soak/soak_run.h"

#include <stdlib.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera_controls.h"
#include "core/camera_device.h"
#include "core/device_lifecycle.h"
#include "platform/kernel/pool.h"
#include "platform/ks/ks_device.h"
#include "platform/registry/registry.h"
#include "platform/usb_stack/usb_bus.h"
#include "simcam/image_stream.h"
#include "simcam/scene.h"
#include "simcam/sim_camera.h"
#include "usb/frame_read.h"

namespace bayercam::soak {
namespace {

// Settings go to a folder of their own, so that a soak never touches a user's saved settings.
class ScratchSettings {
  public:
    ScratchSettings() {
        char pattern[] = "/tmp/bayercam-soak-XXXXXX";
        root_ = mkdtemp(pattern);
        RegistrySetSettingsRoot(root_);
    }
    ~ScratchSettings() {
        RegistrySetSettingsRoot("");
        std::error_code error;
        std::filesystem::remove_all(root_, error);
    }

  private:
    std::string root_;
};

// Changes one control at random, as a client's property requests would.
bool ChangeControl(CameraDevice* device, std::mt19937_64& random) {
    switch (random() % 4) {
        case 0:
            return SetExposure(device, static_cast<uint32_t>(1 + random() % 1000));
        case 1:
            return SetGlobalGain(device, static_cast<uint32_t>(random() % 64));
        case 2:
            SetWhiteBalance(device, static_cast<int32_t>(random() % 2));
            return true;
        default:
            return ReadClock(device) >= 0;
    }
}

}  // namespace

SoakFigures RunSoak(const SoakOptions& options) {
    SoakFigures figures;
    auto began = std::chrono::steady_clock::now();
    int64_t liveBefore = pool::LiveAllocations();
    {
        ScratchSettings settings;
        sim::SimCamera camera;
        UsbBus bus(camera);
        bus.Recorder().SetCapacity(64);
        RegistryRegisterDevice(bus.PhysicalDevice(), "soak");
        DRIVER_OBJECT driver{};
        DriverEntry(&driver, "soak");
        KSDEVICE* ksDevice = nullptr;
        if (NT_SUCCESS(KsPnpAddDevice(&driver, bus.PhysicalDevice(), &ksDevice))) {
            figures.started = NT_SUCCESS(KsPnpStartDevice(ksDevice));
            CameraDevice* device = GetCameraDevice(ksDevice);
            std::string error;
            sim::SimImageStream images(camera, sim::MakeScene("chart", options.seed, &error), 0.0);
            device->rawFrameBytes.store(sim::kFrameBytes);

            std::atomic<bool> streaming{true};
            std::thread controls([&] {
                std::mt19937_64 random(options.seed);
                while (streaming.load()) {
                    ++figures.controlChanges;
                    if (!ChangeControl(device, random)) ++figures.controlFailures;
                    std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
                }
            });
            std::vector<uint8_t> frame(sim::kFrameBytes);
            for (uint64_t i = 0; i < options.frames && figures.started; ++i) {
                bool ok = false;
                ReadFrame(device, frame.data(), &ok);
                ++(ok ? figures.framesDelivered : figures.framesFailed);
            }
            streaming.store(false);
            controls.join();

            for (uint64_t i = 0; i < options.cycles; ++i) {
                KsPnpStopDevice(ksDevice);
                if (!NT_SUCCESS(KsPnpStartDevice(ksDevice))) ++figures.cycleFailures;
                ++figures.cyclesDone;
            }
            KsPnpRemoveDevice(ksDevice);
        }
        RegistryUnregisterDevice(bus.PhysicalDevice());
    }
    figures.liveAllocationsAfter = pool::LiveAllocations() - liveBefore;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    figures.peakRssKb = usage.ru_maxrss;
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    return figures;
}

}  // namespace bayercam::soak
