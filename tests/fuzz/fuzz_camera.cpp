#include "fuzz/fuzz_camera.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "core/camera_device.h"
#include "platform/ks/ks_property.h"
#include "platform/usb_stack/usb_bus.h"
#include "props/control_requests.h"
#include "simcam/command_dispatcher.h"
#include "stream/capture_descriptors.h"

namespace bayercam::fuzz {
namespace {

constexpr uint8_t kFrameRequest = 0x02;
constexpr std::chrono::microseconds kFrameInterval{250};

void ResetRegion(FuzzCamera& camera) {
    RoiRequest region{};
    region.property = {ControlPropertySetId, 44, KSPROPERTY_TYPE_SET};
    region.width = 64;
    region.height = 32;
    uint32_t returned = 0;
    KsFilterProperty(camera.filter, &region, sizeof region, &region, sizeof region, &returned);
}

}  // namespace

FuzzCamera& TheCamera() {
    static FuzzCamera* made = [] {
        auto* fuzz = new FuzzCamera;
        // Packets answered in the driver's thread, as a camera with its answer ready does.
        sim::SimCameraOptions options;
        options.completeInSubmit = true;
        auto backend = std::make_unique<sim::SimCamera>(options);
        fuzz->sim = backend.get();
        BehaveNormally(*fuzz->sim);
        if (!client::Camera::Open(std::move(backend), &fuzz->camera).ok() ||
            !NT_SUCCESS(fuzz->camera->StartStatus()) ||
            !NT_SUCCESS(KsCreateFilter(fuzz->camera->Device(),
                                       &fuzz->camera->Record()->captureDescriptors->filter,
                                       &fuzz->filter)))
            std::abort();
        // Nobody reads the bus record here; a long one only slows every transfer.
        fuzz->camera->Bus().Recorder().SetCapacity(1);
        FinishInput(*fuzz);
        return fuzz;
    }();
    return *made;
}

void FramePacer::Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    const auto now = std::chrono::steady_clock::now();
    const auto next = last_ + kFrameInterval;
    last_ = std::max(now, next);
    guard.unlock();
    if (next > now) std::this_thread::sleep_until(next);
}

void BehaveNormally(sim::SimCamera& camera) {
    camera.StartNewRun();
    auto pacer = std::make_shared<FramePacer>();
    camera.SetImageControl([pacer](sim::SimCamera&, const uint8_t* packet, uint32_t length) {
        if (length > 0 && packet[0] == kFrameRequest) pacer->Wait();
    });
    camera.SetCommandHandler(&sim::DispatchCommand);
    camera.SetImageSource([](uint8_t*, uint32_t length, uint32_t* produced) {
        *produced = length;
        return true;
    });
}

void FinishInput(FuzzCamera& camera) {
    ResetRegion(camera);
    camera.sim->StartNewRun();
}

}  // namespace bayercam::fuzz
