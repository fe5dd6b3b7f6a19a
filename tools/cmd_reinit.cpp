// bayercam reinit: runs the camera's start-up again (property Reinitialize), which also reloads
// the saved settings.
#include <cstdio>
#include <string>

#include "tools/control_properties.h"
#include "tools/control_session.h"

namespace bayercam::tool {
namespace {

int RunReinit(const GlobalOptions& global) {
    std::string error;
    std::unique_ptr<ControlSession> session = ControlSession::Open(global, &error);
    if (!session) {
        std::fprintf(stderr, "bayercam reinit: %s\n", error.c_str());
        return kExitFailure;
    }
    const ControlProperty& reinitialize = *FindControlProperty("Reinitialize");
    client::Status status = SetControl(session->Filter(), reinitialize, {0});
    if (!status.ok()) {
        std::fprintf(stderr, "bayercam reinit: %s\n",
                     DescribeFailure(reinitialize, true, status).c_str());
        return kExitFailure;
    }
    if (!global.quiet) std::printf("camera re-initialised\n");
    return 0;
}

void SetupReinit(CLI::App& app, const GlobalOptions& global, int& exitCode) {
    CLI::App* command = app.add_subcommand(
        "reinit", "Run the camera's start-up sequence again and reload the saved settings");
    command->callback([&global, &exitCode] { exitCode = RunReinit(global); });
}

}  // namespace

BAYERCAM_COMMAND(reinit, SetupReinit);

}  // namespace bayercam::tool
