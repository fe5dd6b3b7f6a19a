#include "fuzz/fuzz_camera.h"

#include <cstdlib>

#include "core/camera_device.h"
#include "platform/ks/ks_property.h"
#include "props/control_requests.h"
#include "simcam/scene.h"
#include "simcam/sim_camera.h"
#include "stream/capture_descriptors.h"

namespace bayercam::fuzz {

FuzzCamera& TheCamera() {
    static FuzzCamera* made = [] {
        auto* fuzz = new FuzzCamera;
        auto backend = std::make_unique<sim::SimCamera>();
        sim::SimCamera& sim = *backend;
        std::string error;
        fuzz->images =
            std::make_unique<sim::SimImageStream>(sim, sim::MakeScene("chart", 1, &error), 0.0);
        if (!client::Camera::Open(std::move(backend), &fuzz->camera).ok() ||
            !NT_SUCCESS(fuzz->camera->StartStatus()) ||
            !NT_SUCCESS(KsCreateFilter(fuzz->camera->Device(),
                                       &fuzz->camera->Record()->captureDescriptors->filter,
                                       &fuzz->filter)))
            std::abort();
        ResetRegion(*fuzz);
        return fuzz;
    }();
    return *made;
}

void ResetRegion(FuzzCamera& camera) {
    RoiRequest region{};
    region.property = {ControlPropertySetId, 44, KSPROPERTY_TYPE_SET};
    region.width = 64;
    region.height = 32;
    uint32_t returned = 0;
    KsFilterProperty(camera.filter, &region, sizeof region, &region, sizeof region, &returned);
}

}  // namespace bayercam::fuzz
