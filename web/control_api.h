// The control API's requests and answers: which control a PUT names, whether its body is a value
// the control takes, and the JSON a control is listed as. Nothing here touches the camera, so a
// refused request changes nothing.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bayercam::web {

struct ControlInfo {
    std::string name;
    uint32_t id = 0;
    bool readable = false;
    bool writable = false;
    std::optional<int32_t> minimum;  // absent where the camera reports no range
    std::optional<int32_t> maximum;
    std::optional<int32_t> byDefault;
};

// The control that takes four values (X, Y, W, H) rather than one.
inline constexpr std::string_view kRegionControl = "RegionOfInterest";

struct ControlWrite {
    int status = 200;  // 200, or 400 / 404 with `error` set
    std::string error;
    const ControlInfo* control = nullptr;
    std::vector<int32_t> values;
};

// A PUT of `body` to control `name` (any case): {"value": N}, or {"value": [X, Y, W, H]} for the
// region. Values outside the control's range are refused, not clamped, so the caller learns of
// them.
ControlWrite ParseControlWrite(std::span<const ControlInfo> controls, std::string_view name,
                               std::string_view body);

// The body {"value": N} with N in minimum..maximum; false with `*error` set otherwise.
bool ParseSingleValue(std::string_view body, int32_t minimum, int32_t maximum, int32_t* value,
                      std::string* error);

// {"name", "id", "value", "min", "max", "default", "access"}; null where there is nothing to say.
nlohmann::json ControlJson(const ControlInfo& control, std::optional<int32_t> value);

nlohmann::json ErrorJson(std::string_view message);

}  // namespace bayercam::web
