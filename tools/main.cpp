// bayercam: the command-line tool.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>

#include "platform/libusb/usb_device_selection.h"
#include "tools/command.h"
#include "tools/command_outcome.h"

namespace bayercam::tool {

std::vector<RegisteredCommand>& RegisteredCommands() {
    static std::vector<RegisteredCommand> commands;
    return commands;
}

CommandRegistration::CommandRegistration(const char* name, CommandSetup setup) {
    RegisteredCommands().push_back({name, std::move(setup)});
}

namespace {

constexpr const char* kExitStatusRule =
    "Exit status: 0 success; 1 the operation failed; 2 the command line was wrong (including a "
    "bad value given to an option). Interrupted captures exit with 128 + the signal number.";

// A finite number: CLI's range check lets NaN through.
std::string FiniteNumber(std::string& text) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    return std::isfinite(value) ? std::string() : "not a finite number: " + text;
}

std::string UsbSelector(std::string& text) {
    bayercam::UsbDeviceSelector selector;
    std::string error;
    return bayercam::ParseUsbDeviceSelector(text, "", &selector, &error) ? std::string() : error;
}

std::string UsbPath(std::string& text) {
    bayercam::UsbDeviceSelector selector;
    std::string error;
    return bayercam::ParseUsbDeviceSelector("", text, &selector, &error) ? std::string() : error;
}

std::string SceneName(std::string& text) {
    const bool file = text.rfind("file:", 0) == 0 && text.size() > 5;
    return text == "chart" || file ? std::string() : "expected chart or file:PATH.pgm: " + text;
}

}  // namespace

}  // namespace bayercam::tool

int main(int argc, char** argv) {
    using namespace bayercam::tool;
    CLI::App app{"bayercam: driver and imaging tools for the 1360 x 1024 RGGB USB camera"};
    app.require_subcommand(1);
    app.set_version_flag("--version", BAYERCAM_VERSION);
    app.footer(kExitStatusRule);
    // Options before the command work after it too, and every option's help shows its default.
    app.fallthrough();
    app.option_defaults()->always_capture_default();
    GlobalOptions global;
    app.add_flag("--sim", global.sim, "Use the built-in simulated camera");
    app.add_option("--settings-dir", global.settingsDir,
                   "Where settings live (default $XDG_CONFIG_HOME/bayercam)");
    app.add_option("--sim-clock", global.simClock, "Clock selection the simulated camera reports")
        ->check(CLI::Range(0, 255));
    app.add_option("--sim-fps", global.simFps, "Simulated frame rate (0: as fast as possible)")
        ->check(CLI::Validator(FiniteNumber, "", "finite"))
        ->check(CLI::Range(0.0, 1000.0));
    app.add_option("--sim-scene", global.simScene, "Simulated image: chart or file:PATH.pgm")
        ->check(CLI::Validator(SceneName, "", "scene"));
    app.add_option("--usb-trace", global.usbTrace,
                   "Write every bus transfer to FILE (usbmon pcap); - for standard output");
    app.add_option("--usb", global.usbDevice, "Real camera by VID:PID or VID:PID:SERIAL (hex ids)")
        ->check(CLI::Validator(UsbSelector, "", "usb"));
    app.add_option("--usb-path", global.usbPath, "Real camera by bus path, e.g. 1-3.1")
        ->check(CLI::Validator(UsbPath, "", "usb-path"));
    app.add_flag("-q,--quiet", global.quiet, "No progress or summary output (errors still print)");

    auto& commands = RegisteredCommands();
    std::sort(commands.begin(), commands.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    int exitCode = 0;
    for (auto& command : commands) command.setup(app, global, exitCode);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
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
        return kExitUsage;
    } catch (const std::exception& e) {
        // Nothing a command meets may abort the tool: the sessions have closed by now.
        std::fprintf(stderr, "bayercam: %s\n", e.what());
        exitCode = kExitFailure;
    }
    return FinishCommand(exitCode);
}
