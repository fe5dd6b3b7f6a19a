#include "core/control_table.h"

#include <type_traits>

namespace bayercam {

int32_t ReadControl(const CameraDevice* device, Control control) {
    return std::visit(
        [device](auto member) { return static_cast<int32_t>((device->*member).load()); },
        Info(control).member);
}

void StoreControl(CameraDevice* device, Control control, int32_t value) {
    std::visit(
        [device, value](auto member) {
            using Value = typename std::remove_reference_t<decltype(device->*member)>::value_type;
            (device->*member).store(static_cast<Value>(value));
        },
        Info(control).member);
}

}  // namespace bayercam
