#include "library/named_controls.h"

#include <algorithm>
#include <cctype>

namespace bayercam::library {
namespace {

// Setting id and the id of its minimum; the maximum and the default follow it.
constexpr std::pair<uint32_t, uint32_t> kRanges[] = {
    {2, 3}, {6, 7}, {14, 17}, {15, 17}, {16, 17}, {20, 21}, {24, 25}, {28, 29}, {32, 33},
};
// Properties whose request carries more than one value, or bytes.
constexpr uint32_t kMultiValue[] = {44 /* RegionOfInterest */, 57 /* SensorRegisterWrite */,
                                    59 /* RawCommand */, 60 /* MemoryByte */};

bool IsRangeReport(uint32_t id) {
    return std::any_of(std::begin(kRanges), std::end(kRanges),
                       [id](auto range) { return id >= range.second && id <= range.second + 2; });
}

bool IsControl(const ControlProperty& property) {
    std::string_view name = property.name;
    return name.substr(0, 8) != "Reserved" && !IsRangeReport(property.id) &&
           std::find(std::begin(kMultiValue), std::end(kMultiValue), property.id) ==
               std::end(kMultiValue);
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

const std::vector<const ControlProperty*>& NamedControls() {
    static const std::vector<const ControlProperty*> controls = [] {
        std::vector<const ControlProperty*> found;
        for (const ControlProperty& property : kControlProperties)
            if (IsControl(property)) found.push_back(&property);
        return found;
    }();
    return controls;
}

const ControlProperty* FindNamedControl(std::string_view name) {
    for (const ControlProperty* control : NamedControls())
        if (SameName(name, control->name)) return control;
    return nullptr;
}

std::optional<ControlRangeIds> RangeIdsOf(const ControlProperty& control) {
    for (auto [id, minimum] : kRanges) {
        if (id == control.id) return ControlRangeIds{minimum, minimum + 1, minimum + 2};
    }
    return std::nullopt;
}

client::Status ReadControl(const client::Filter& filter, const ControlProperty& control,
                           int32_t* value) {
    ControlRequest request{};
    client::Status status = filter.GetProperty(ControlPropertySetId, control.id, &request);
    if (status.ok()) *value = request.value;
    return status;
}

client::Status WriteControl(const client::Filter& filter, const ControlProperty& control,
                            int32_t value) {
    ControlRequest request{};
    request.value = value;
    return filter.SetProperty(ControlPropertySetId, control.id, &request);
}

}  // namespace bayercam::library
