#include "api/library/named_controls.h"

#include <algorithm>
#include <cctype>

#include "core/control_table.h"

namespace bayercam::library {
namespace {

// Its set selects the register whose last written value its get answers.
constexpr uint32_t kRegisterShadow = 58;

// Properties whose request carries more than one value, or bytes.
constexpr uint32_t kMultiValue[] = {44 /* RegionOfInterest */, 57 /* SensorRegisterWrite */,
                                    59 /* RawCommand */, 60 /* MemoryByte */};

bool IsRangeReport(uint32_t id) {
    return std::any_of(kControls.begin(), kControls.end(), [id](const ControlInfo& info) {
        auto first = info.rangeProperty;
        return first != kNoProperty && id >= uint32_t(first) && id <= uint32_t(first) + 2;
    });
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
    for (const ControlInfo& info : kControls) {
        if (info.propertyId != int32_t(control.id) || info.rangeProperty == kNoProperty) continue;
        auto first = uint32_t(info.rangeProperty);
        return ControlRangeIds{first, first + 1, first + 2};
    }
    return std::nullopt;
}

std::optional<ControlRangeValues> FixedRangeOf(const ControlProperty& control) {
    if (control.id == kRegisterShadow) return ControlRangeValues{0, kRegisterShadowSize - 1, 0};
    for (const ControlInfo& info : kControls) {
        if (info.propertyId != int32_t(control.id) || info.rangeProperty != kNoProperty ||
            info.minimum == control_table::kNoMinimum)
            continue;
        return ControlRangeValues{info.minimum, info.maximum, info.reportedDefault};
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
