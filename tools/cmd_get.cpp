// bayercam get NAME|ID ...: reads control properties, one NAME=VALUE line each.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/control_properties.h"
#include "tools/control_session.h"

namespace bayercam::tool {
namespace {

int RunGet(const GlobalOptions& global, const std::vector<std::string>& names) {
    std::vector<const ControlProperty*> properties;
    for (const std::string& name : names) {
        const ControlProperty* property = FindControlProperty(name);
        if (!property) {
            std::fprintf(stderr, "bayercam get: '%s': no such property (see 'bayercam props')\n",
                         name.c_str());
            return kExitUsage;
        }
        properties.push_back(property);
    }
    std::string error;
    std::unique_ptr<ControlSession> session = ControlSession::Open(global, &error);
    if (!session) {
        std::fprintf(stderr, "bayercam get: %s\n", error.c_str());
        return kExitFailure;
    }
    int exitCode = 0;
    for (const ControlProperty* property : properties) {
        if (property->id == kRegionOfInterestId) {
            std::printf("%s=%s\n", property->name,
                        FormatRegion(*session->Device().Camera()).c_str());
            continue;
        }
        int32_t value = 0;
        client::Status status = GetControl(session->Filter(), *property, &value);
        if (status.ok()) {
            std::printf("%s=%d\n", property->name, value);
        } else {
            std::fprintf(stderr, "bayercam get: %s\n",
                         DescribeFailure(*property, false, status).c_str());
            exitCode = kExitFailure;
        }
    }
    return exitCode;
}

void SetupGet(CLI::App& app, const GlobalOptions& global, int& exitCode) {
    auto names = std::make_shared<std::vector<std::string>>();
    CLI::App* command = app.add_subcommand("get", "Read control properties by name or id");
    command->add_option("property", *names, "Property name (any case) or id")->required();
    command->callback([&global, &exitCode, names] { exitCode = RunGet(global, *names); });
}

}  // namespace

BAYERCAM_COMMAND(get, SetupGet);

}  // namespace bayercam::tool
