#include "tools/command_outcome.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/registry/registry.h"
#include "tools/command.h"

namespace bayercam::tool {
namespace {

bool changesSettings = false;
std::vector<std::string> lateFailures;

}  // namespace

void CommandChangesSettings() {
    changesSettings = true;
}

void ReportLateFailure(const std::string& message) {
    lateFailures.push_back(message);
}

int FinishCommand(int exitCode) {
    const int failed = exitCode == 0 ? kExitFailure : exitCode;
    RegistryWriteFailure settings;
    if (RegistryTakeWriteFailure(&settings)) {
        const char* reason = std::strerror(settings.error);
        if (settings.lost || changesSettings) {
            std::fprintf(stderr, "bayercam: settings not saved to %s: %s\n", settings.path.c_str(),
                         reason);
            exitCode = failed;
        } else {
            std::fprintf(stderr, "bayercam: changes to settings cannot be saved to %s: %s\n",
                         settings.path.c_str(), reason);
        }
    }
    for (const std::string& message : lateFailures) {
        std::fprintf(stderr, "bayercam: %s\n", message.c_str());
        exitCode = failed;
    }
    return exitCode;
}

}  // namespace bayercam::tool
