#include "web/control_api.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace bayercam::web {
namespace {

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

bool ToInt32(const nlohmann::json& number, int32_t* value) {
    if (!number.is_number_integer()) return false;
    if (number.is_number_unsigned()) {
        uint64_t v = number.get<uint64_t>();
        if (v > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return false;
        *value = static_cast<int32_t>(v);
        return true;
    }
    int64_t v = number.get<int64_t>();
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        return false;
    *value = static_cast<int32_t>(v);
    return true;
}

// The "value" member of `body`: `count` integers, one bare or several in an array.
bool ParseValues(std::string_view body, size_t count, std::vector<int32_t>* values,
                 std::string* error) {
    nlohmann::json document = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded() || !document.is_object()) {
        *error = "the body must be a JSON object {\"value\": ...}";
        return false;
    }
    auto member = document.find("value");
    if (member == document.end()) {
        *error = "the body has no \"value\"";
        return false;
    }
    const nlohmann::json& value = *member;
    std::vector<nlohmann::json> items =
        value.is_array() ? value.get<std::vector<nlohmann::json>>() : std::vector{value};
    if (items.size() != count || value.is_array() != (count > 1)) {
        *error = count == 1
                     ? "\"value\" must be one integer"
                     : "\"value\" must be an array of " + std::to_string(count) + " integers";
        return false;
    }
    values->resize(count);
    for (size_t i = 0; i < count; ++i) {
        if (!ToInt32(items[i], &(*values)[i])) {
            *error = "\"value\" must hold 32-bit integers";
            return false;
        }
    }
    return true;
}

std::string RangeText(int32_t minimum, int32_t maximum) {
    return std::to_string(minimum) + ".." + std::to_string(maximum);
}

}  // namespace

ControlWrite ParseControlWrite(std::span<const ControlInfo> controls, std::string_view name,
                               std::string_view body) {
    ControlWrite write;
    auto found = std::ranges::find_if(
        controls, [&](const ControlInfo& c) { return SameNameIgnoringCase(c.name, name); });
    if (found == controls.end()) {
        write.status = 404;
        write.error = "no control named '" + std::string(name) + "'";
        return write;
    }
    write.control = &*found;
    write.status = 400;
    if (!found->writable) {
        write.error = found->name + " is read-only";
        return write;
    }
    size_t count = found->name == kRegionControl ? 4 : 1;
    if (!ParseValues(body, count, &write.values, &write.error)) return write;
    if (found->minimum && found->maximum && count == 1) {
        int32_t value = write.values[0];
        if (value < *found->minimum || value > *found->maximum) {
            write.error = found->name + " takes " + RangeText(*found->minimum, *found->maximum);
            return write;
        }
    }
    write.status = 200;
    return write;
}

bool ParseSingleValue(std::string_view body, int32_t minimum, int32_t maximum, int32_t* value,
                      std::string* error) {
    std::vector<int32_t> values;
    if (!ParseValues(body, 1, &values, error)) return false;
    if (values[0] < minimum || values[0] > maximum) {
        *error = "\"value\" must be in " + RangeText(minimum, maximum);
        return false;
    }
    *value = values[0];
    return true;
}

nlohmann::json ControlJson(const ControlInfo& control, std::optional<int32_t> value) {
    auto orNull = [](const std::optional<int32_t>& v) {
        return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
    };
    const char* access = control.readable && control.writable ? "get/set"
                         : control.readable                   ? "get"
                                                              : "set";
    return {{"name", control.name},
            {"id", control.id},
            {"value", orNull(value)},
            {"min", orNull(control.minimum)},
            {"max", orNull(control.maximum)},
            {"default", orNull(control.byDefault)},
            {"access", access}};
}

nlohmann::json ErrorJson(std::string_view message) {
    return {{"error", message}};
}

}  // namespace bayercam::web
