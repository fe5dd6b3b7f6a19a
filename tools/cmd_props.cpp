// bayercam props [--json]: every control property with its access, current value and, where the
// set reports them, its minimum, maximum and default.
#include <cstdio>
#include <optional>
#include <string>

#include "tools/control_properties.h"
#include "tools/control_session.h"

namespace bayercam::tool {
namespace {

struct PropertyLine {
    const ControlProperty* property;
    std::optional<int32_t> value;  // none: not readable, or the read failed
    std::optional<int32_t> minimum;
    std::optional<int32_t> maximum;
    std::optional<int32_t> byDefault;
};

std::optional<int32_t> Read(const client::Filter& filter, const ControlProperty& property) {
    int32_t value = 0;
    if (!property.get || !GetControl(filter, property, &value).ok()) return std::nullopt;
    return value;
}

const char* Access(const ControlProperty& property) {
    if (property.get && property.set) return "get/set";
    return property.get ? "get" : "set";
}

std::string Text(const std::optional<int32_t>& value, const char* none) {
    return value ? std::to_string(*value) : none;
}

void PrintTable(const std::vector<PropertyLine>& lines) {
    std::printf("%3s  %-20s %-7s %11s %6s %6s %8s\n", "ID", "NAME", "ACCESS", "VALUE", "MIN", "MAX",
                "DEFAULT");
    for (const PropertyLine& line : lines) {
        std::printf("%3u  %-20s %-7s %11s %6s %6s %8s\n", line.property->id, line.property->name,
                    Access(*line.property), Text(line.value, "-").c_str(),
                    Text(line.minimum, "").c_str(), Text(line.maximum, "").c_str(),
                    Text(line.byDefault, "").c_str());
    }
}

void PrintJson(const std::vector<PropertyLine>& lines) {
    std::printf("{\"properties\": [\n");
    for (size_t i = 0; i < lines.size(); ++i) {
        const PropertyLine& line = lines[i];
        std::printf(
            "  {\"id\": %u, \"name\": \"%s\", \"get\": %s, \"set\": %s, \"value\": %s, "
            "\"min\": %s, \"max\": %s, \"default\": %s}%s\n",
            line.property->id, line.property->name, line.property->get ? "true" : "false",
            line.property->set ? "true" : "false", Text(line.value, "null").c_str(),
            Text(line.minimum, "null").c_str(), Text(line.maximum, "null").c_str(),
            Text(line.byDefault, "null").c_str(), i + 1 < lines.size() ? "," : "");
    }
    std::printf("]}\n");
}

int RunProps(const GlobalOptions& global, bool json) {
    std::string error;
    std::unique_ptr<ControlSession> session = ControlSession::Open(global, &error);
    if (!session) {
        std::fprintf(stderr, "bayercam props: %s\n", error.c_str());
        return kExitFailure;
    }
    const client::Filter& filter = session->Filter();
    std::vector<PropertyLine> lines;
    for (const ControlProperty& property : kControlProperties) {
        PropertyLine line{&property, Read(filter, property), {}, {}, {}};
        if (std::optional<ControlRange> range = RangeOf(property)) {
            line.minimum = Read(filter, kControlProperties[range->minimum]);
            line.maximum = Read(filter, kControlProperties[range->maximum]);
            line.byDefault = Read(filter, kControlProperties[range->byDefault]);
        }
        lines.push_back(line);
    }
    if (json)
        PrintJson(lines);
    else
        PrintTable(lines);
    return 0;
}

void SetupProps(CLI::App& app, const GlobalOptions& global, int& exitCode) {
    auto json = std::make_shared<bool>(false);
    CLI::App* command = app.add_subcommand(
        "props", "List every control property: access, value, minimum, maximum, default");
    command->add_flag("--json", *json, "Print JSON for scripts");
    command->callback([&global, &exitCode, json] { exitCode = RunProps(global, *json); });
}

}  // namespace

BAYERCAM_COMMAND(props, SetupProps);

}  // namespace bayercam::tool
