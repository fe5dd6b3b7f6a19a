// The 24 saved settings, one per control: their value names, defaults and the order in which
// loading reads and saving writes them are those of the control table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/control_table.h"

namespace bayercam {

// The group below the device's driver key that holds the values.
inline constexpr char kSettingsKeyName[] = "Settings";

// One value per control, in the table's order.
struct SettingArray {
    std::array<int32_t, kControlCount> values;

    int32_t& operator[](Control control) { return values[static_cast<size_t>(control)]; }
    int32_t operator[](Control control) const { return values[static_cast<size_t>(control)]; }
};

}  // namespace bayercam
