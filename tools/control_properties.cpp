#include "tools/control_properties.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/kernel/ntstatus.h"

namespace bayercam::tool {
namespace {

constexpr uint32_t kSensorRegisterWrite = 57;
constexpr uint32_t kRawCommand = 59;
constexpr uint32_t kMemoryByte = 60;
constexpr size_t kRawCommandBytes = 63;

// Setting id and the id of its minimum; the maximum and the default follow it.
constexpr std::pair<uint32_t, uint32_t> kRanges[] = {
    {2, 3}, {6, 7}, {14, 17}, {15, 17}, {16, 17}, {20, 21}, {24, 25}, {28, 29}, {32, 33},
};

bool SameName(const std::string& a, const char* b) {
    return a.size() == std::strlen(b) && std::equal(a.begin(), a.end(), b, [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// A signed 32-bit integer, decimal or 0x-hexadecimal: the property values are, and a larger
// one would wrap.
bool ParseInteger(const std::string& text, int32_t* value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    *value = static_cast<int32_t>(parsed);
    return true;
}

struct ValueCount {
    size_t minimum;
    size_t maximum;
    const char* form;
};

ValueCount ValuesOf(const ControlProperty& property) {
    switch (property.id) {
        case kSensorRegisterWrite:
            return {2, 2, "ADDRESS,VALUE"};
        case kRegionOfInterestId:
            return {4, 4, "X,Y,W,H"};
        case kRawCommand:
            return {0, kRawCommandBytes, "BYTE,BYTE,... (at most 63)"};
        default:
            return {1, 1, "INTEGER"};
    }
}

// Room for the largest request record, used as property and data buffer alike.
union RequestRecord {
    ControlRequest control;
    RoiRequest roi;
    RawCommandRequest raw;
};

}  // namespace

std::string FormatRegion(const CameraDevice& camera) {
    return std::to_string(camera.roiX.load()) + "," + std::to_string(camera.roiY.load()) + "," +
           std::to_string(camera.roiW.load()) + "," + std::to_string(camera.roiH.load());
}

const ControlProperty* FindControlProperty(const std::string& nameOrId) {
    for (const ControlProperty& property : kControlProperties) {
        if (SameName(nameOrId, property.name)) return &property;
    }
    int32_t id = 0;
    bool decimal = !nameOrId.empty() && std::all_of(nameOrId.begin(), nameOrId.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
    if (decimal && ParseInteger(nameOrId, &id) && static_cast<uint32_t>(id) < kControlPropertyCount)
        return &kControlProperties[static_cast<uint32_t>(id)];
    return nullptr;
}

std::optional<ControlRange> RangeOf(const ControlProperty& property) {
    for (auto [id, minimum] : kRanges) {
        if (id == property.id) return ControlRange{minimum, minimum + 1, minimum + 2};
    }
    return std::nullopt;
}

bool ParseAssignment(const std::string& text, const ControlProperty** property,
                     std::vector<int32_t>* values, std::string* error) {
    size_t equals = text.find('=');
    if (equals == std::string::npos) {
        *error = "'" + text + "': expected NAME=VALUE";
        return false;
    }
    std::string name = text.substr(0, equals);
    *property = FindControlProperty(name);
    if (!*property) {
        *error = "'" + name + "': no such property (see 'bayercam props')";
        return false;
    }
    values->clear();
    std::string list = text.substr(equals + 1);
    ValueCount count = ValuesOf(**property);
    bool parsed = true;
    if (!list.empty() || count.minimum > 0) {
        size_t start = 0;
        while (parsed) {
            size_t comma = list.find(',', start);
            int32_t value = 0;
            parsed = ParseInteger(list.substr(start, comma - start), &value);
            values->push_back(value);
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    if (!parsed || values->size() < count.minimum || values->size() > count.maximum) {
        *error = "'" + text + "': " + (*property)->name + " takes " + count.form;
        return false;
    }
    if ((*property)->id == kRawCommand &&
        std::any_of(values->begin(), values->end(), [](int32_t v) { return v < 0 || v > 255; })) {
        *error = "'" + text + "': RawCommand bytes are 0..255";
        return false;
    }
    // The driver would round it to no image, and every later stream would fail.
    if ((*property)->id == kRegionOfInterestId && (*values)[2] < kMinRegionWidth) {
        *error = "'" + text + "': the region must be at least " + std::to_string(kMinRegionWidth) +
                 " pixels wide";
        return false;
    }
    return true;
}

client::Status GetControl(const client::Filter& filter, const ControlProperty& property,
                          int32_t* value) {
    RequestRecord record{};
    client::Status status = filter.GetProperty(ControlPropertySetId, property.id, &record,
                                               property.minSize, &record, property.minSize);
    if (status.ok())
        *value = property.id == kMemoryByte ? record.raw.payload[0] : record.control.value;
    return status;
}

client::Status SetControl(const client::Filter& filter, const ControlProperty& property,
                          const std::vector<int32_t>& values) {
    RequestRecord record{};
    switch (property.id) {
        case kRegionOfInterestId:
            record.roi.x = values.at(0);
            record.roi.y = values.at(1);
            record.roi.width = values.at(2);
            record.roi.height = values.at(3);
            break;
        case kRawCommand:
            record.raw.count = static_cast<int32_t>(values.size());
            for (size_t i = 0; i < values.size() && i < kRawCommandBytes; ++i)
                record.raw.payload[i] = static_cast<uint8_t>(values[i]);
            break;
        default:
            record.control.value = values.empty() ? 0 : values[0];
            record.control.secondValue = values.size() > 1 ? values[1] : 0;
            break;
    }
    return filter.SetProperty(ControlPropertySetId, property.id, &record, property.minSize, &record,
                              property.minSize);
}

std::string DescribeFailure(const ControlProperty& property, bool set,
                            const client::Status& status) {
    std::string name = property.name;
    if (status.code == STATUS_INVALID_DEVICE_REQUEST)
        return name + (set ? " cannot be set (read-only property)"
                           : " cannot be read (write-only property)");
    return name + (set ? ": set failed: " : ": get failed: ") + NtStatusName(status.code);
}

}  // namespace bayercam::tool
