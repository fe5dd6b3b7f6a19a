#include "fuzz/fuzz_camera.h"

#include <cstdlib>
#include <vector>

#include "core/camera_device.h"
#include "platform/ks/ks_property.h"
#include "platform/usb_stack/usb_bus.h"
#include "props/control_requests.h"
#include "simcam/file_scene.h"
#include "simcam/scene.h"
#include "simcam/sim_camera.h"
#include "stream/capture_descriptors.h"

namespace bayercam::fuzz {
namespace {

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
        // Packets answered in the driver's thread, and frames at most a thousand a second: a
        // camera with its frame always ready lets the capture thread read frames back to back,
        // many for each one the pipe delivers.
        sim::SimCameraOptions options;
        options.completeInSubmit = true;
        auto backend = std::make_unique<sim::SimCamera>(options);
        fuzz->sim = backend.get();
        fuzz->images = std::make_unique<sim::SimImageStream>(
            *fuzz->sim, std::make_unique<sim::FileScene>(std::vector<uint8_t>(sim::kFrameBytes)),
            1000.0);
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

void FinishInput(FuzzCamera& camera) {
    ResetRegion(camera);
    camera.sim->StartNewRun();
}

}  // namespace bayercam::fuzz
