#include "web/camera_controls.h"

#include <cstring>

#include "props/control_property_set.h"

namespace bayercam::web {
namespace {

// The id of the property behind a control, as `bayercam props` shows it.
uint32_t PropertyId(const char* name) {
    for (const ControlProperty& property : kControlProperties)
        if (std::strcmp(property.name, name) == 0) return property.id;
    return 0;
}

}  // namespace

std::vector<ControlInfo> ListControls(bayercam_camera* camera) {
    std::vector<ControlInfo> controls;
    bayercam_control_info info{};
    for (uint32_t i = 0; bayercam_describe_control(camera, i, &info) == 0; ++i) {
        ControlInfo control;
        control.name = info.name;
        control.id = PropertyId(info.name);
        control.readable = (info.flags & BAYERCAM_CONTROL_READ) != 0;
        control.writable = (info.flags & BAYERCAM_CONTROL_WRITE) != 0;
        if (info.flags & BAYERCAM_CONTROL_RANGE) {
            control.minimum = info.min;
            control.maximum = info.max;
            control.byDefault = info.def;
        }
        controls.push_back(std::move(control));
    }
    // The region is set through a call of its own, with four values.
    controls.push_back(
        {std::string(kRegionControl), PropertyId(kRegionControl.data()), false, true, {}, {}, {}});
    return controls;
}

}  // namespace bayercam::web
