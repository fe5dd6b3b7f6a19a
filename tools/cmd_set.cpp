// bayercam set NAME=VALUE ...: writes control properties in the order given. The settings reach
// the store when the filter closes, so the next session starts from them.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/command_outcome.h"
#include "tools/control_properties.h"
#include "tools/control_session.h"

namespace bayercam::tool {
namespace {

struct Assignment {
    const ControlProperty* property;
    std::vector<int32_t> values;
};

int RunSet(const GlobalOptions& global, const std::vector<std::string>& texts) {
    std::vector<Assignment> assignments;
    for (const std::string& text : texts) {
        Assignment assignment{};
        std::string error;
        if (!ParseAssignment(text, &assignment.property, &assignment.values, &error)) {
            std::fprintf(stderr, "bayercam set: %s\n", error.c_str());
            return kExitUsage;
        }
        assignments.push_back(std::move(assignment));
    }
    CommandChangesSettings();
    std::string error;
    std::unique_ptr<ControlSession> session = ControlSession::Open(global, &error);
    if (!session) {
        std::fprintf(stderr, "bayercam set: %s\n", error.c_str());
        return kExitFailure;
    }
    for (const Assignment& assignment : assignments) {
        const ControlProperty& property = *assignment.property;
        client::Status status = SetControl(session->Filter(), property, assignment.values);
        if (!status.ok()) {
            std::fprintf(stderr, "bayercam set: %s\n",
                         DescribeFailure(property, true, status).c_str());
            return kExitFailure;
        }
        // Values are clamped, never refused: show what the camera took.
        int32_t value = 0;
        if (global.quiet) continue;
        if (property.id == kRegionOfInterestId)
            std::printf("%s=%s\n", property.name,
                        FormatRegion(*session->Device().Camera()).c_str());
        else if (property.get && GetControl(session->Filter(), property, &value).ok())
            std::printf("%s=%d\n", property.name, value);
    }
    return 0;
}

void SetupSet(CLI::App& app, const GlobalOptions& global, int& exitCode) {
    auto texts = std::make_shared<std::vector<std::string>>();
    CLI::App* command = app.add_subcommand(
        "set", "Write control properties: NAME=VALUE, RegionOfInterest=X,Y,W,H, ...");
    command->add_option("assignment", *texts, "NAME=VALUE (name in any case, or id)")->required();
    command->callback([&global, &exitCode, texts] { exitCode = RunSet(global, *texts); });
}

}  // namespace

BAYERCAM_COMMAND(set, SetupSet);

}  // namespace bayercam::tool
