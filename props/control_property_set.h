// The vendor control property set: 69 properties through which applications read and change
// every camera and image setting.
#pragma once

#include <array>
#include <cstdint>

#include "platform/ks/ks.h"
#include "props/control_requests.h"

namespace bayercam {

struct ControlProperty {
    uint32_t id;
    const char* name;
    PFNKSHANDLER get;  // null: the property cannot be read
    PFNKSHANDLER set;  // null: the property cannot be written
    uint32_t minSize;  // of the property buffer and of the data buffer
};

// Indexed by id.
extern const std::array<ControlProperty, kControlPropertyCount> kControlProperties;

// The set as the filter's automation table carries it.
extern const KSPROPERTY_SET ControlPropertySet;

}  // namespace bayercam
