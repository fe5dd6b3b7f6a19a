// What the property commands (props, get, set, reinit) and the stream commands share: finding a
// control property by name or id, parsing the values a set takes, and sending get and set
// requests through an open capture filter (ControlSession).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bayercam/client.h"
#include "core/camera_device.h"
#include "props/control_property_set.h"

namespace bayercam::tool {

inline constexpr uint32_t kRegionOfInterestId = 44;
// The narrowest region that gives an image: the driver rounds widths down to a multiple of 8.
inline constexpr int32_t kMinRegionWidth = 8;

// "X,Y,W,H" of the region of interest as the driver holds it, after its rounding.
std::string FormatRegion(const CameraDevice& camera);

// A property by its name (any case) or decimal id; null when there is none.
const ControlProperty* FindControlProperty(const std::string& nameOrId);

// The ids that report a property's minimum, maximum and default, where the set has them.
struct ControlRange {
    uint32_t minimum;
    uint32_t maximum;
    uint32_t byDefault;
};
std::optional<ControlRange> RangeOf(const ControlProperty& property);

// "NAME=VALUE": the property and the values its set takes, comma-separated: one for most; address
// and value for SensorRegisterWrite; X,Y,W,H for RegionOfInterest; up to 63 bytes for RawCommand.
// Integers are decimal or 0x-hexadecimal and fit a signed 32-bit value; a region is at least
// kMinRegionWidth wide. False with `*error` set.
bool ParseAssignment(const std::string& text, const ControlProperty** property,
                     std::vector<int32_t>* values, std::string* error);

// Reads a property. `*value` is the answer (the byte read for MemoryByte).
client::Status GetControl(const client::Filter& filter, const ControlProperty& property,
                          int32_t* value);
// Writes a property with values as ParseAssignment gives them.
client::Status SetControl(const client::Filter& filter, const ControlProperty& property,
                          const std::vector<int32_t>& values);

// A failed request in words: refusals of a direction the property lacks are named as such.
std::string DescribeFailure(const ControlProperty& property, bool set,
                            const client::Status& status);

}  // namespace bayercam::tool
