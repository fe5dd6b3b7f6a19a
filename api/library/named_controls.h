// The camera's controls by property name: the single-value properties of the vendor set, with
// the range and default the set reports beside some of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "bayercam/client.h"
#include "props/control_property_set.h"

namespace bayercam::library {

struct ControlRangeIds {
    uint32_t minimum;
    uint32_t maximum;
    uint32_t byDefault;
};

// A control by its property name (any case); null for names that are not controls: reserved
// properties, the range reports and the ones that take more than one value.
const ControlProperty* FindNamedControl(std::string_view name);
// Every control, in property id order.
const std::vector<const ControlProperty*>& NamedControls();
// The properties that report the control's range, where the set has them.
std::optional<ControlRangeIds> RangeIdsOf(const ControlProperty& control);

struct ControlRangeValues {
    int32_t minimum;
    int32_t maximum;
    int32_t byDefault;
};

// The range of a control the set reports none for although its values are bounded: the
// time-out (what a saved value may be), the clock selection and the register the shadow reads.
std::optional<ControlRangeValues> FixedRangeOf(const ControlProperty& control);

client::Status ReadControl(const client::Filter& filter, const ControlProperty& control,
                           int32_t* value);
client::Status WriteControl(const client::Filter& filter, const ControlProperty& control,
                            int32_t value);

}  // namespace bayercam::library
