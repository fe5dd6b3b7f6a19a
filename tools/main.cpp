// bayercam: the command-line tool.
#include <algorithm>
#include <cstdio>

#include "tools/command.h"

namespace bayercam::tool {

std::vector<RegisteredCommand>& RegisteredCommands() {
    static std::vector<RegisteredCommand> commands;
    return commands;
}

CommandRegistration::CommandRegistration(const char* name, CommandSetup setup) {
    RegisteredCommands().push_back({name, std::move(setup)});
}

}  // namespace bayercam::tool

int main(int argc, char** argv) {
    using namespace bayercam::tool;
    CLI::App app{"bayercam: driver and imaging tools for the 1360 x 1024 RGGB USB camera"};
    app.require_subcommand(1);
    GlobalOptions global;
    app.add_flag("--sim", global.sim, "Use the built-in simulated camera");
    app.add_option("--settings-dir", global.settingsDir,
                   "Where settings live (default $XDG_CONFIG_HOME/bayercam)");
    app.add_option("--sim-clock", global.simClock, "Clock selection the simulated camera reports")
        ->check(CLI::Range(0, 255));
    app.add_option("--sim-fps", global.simFps, "Simulated frame rate (0: as fast as possible)")
        ->check(CLI::Range(0.0, 1000.0));
    app.add_option("--sim-scene", global.simScene, "Simulated image: chart or file:PATH.pgm");
    app.add_option("--usb-trace", global.usbTrace,
                   "Write every bus transfer to FILE (usbmon pcap)");
    app.add_option("--usb", global.usbDevice, "Real camera by VID:PID or VID:PID:SERIAL (hex ids)");
    app.add_option("--usb-path", global.usbPath, "Real camera by bus path, e.g. 1-3.1");
    app.add_flag("-q,--quiet", global.quiet, "No progress output");

    auto& commands = RegisteredCommands();
    std::sort(commands.begin(), commands.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    int exitCode = 0;
    for (auto& command : commands) command.setup(app, global, exitCode);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // A word that is no command leaves the subcommand missing; name the word instead.
        auto unknown = app.remaining();
        if (app.get_subcommands().empty() && !unknown.empty())
            std::fprintf(stderr, "bayercam: unknown command '%s' (see --help)\n",
                         unknown.front().c_str());
        else
            std::fprintf(stderr, "bayercam: %s\n", e.what());
        return 2;
    }
    return exitCode;
}
