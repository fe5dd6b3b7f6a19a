// bayercam serve [--listen HOST:PORT]: the camera's controls and live view in a browser.
#include <sstream>
#include <string>

#include "tools/command.h"
#include "web/serve.h"

namespace bayercam::tool {
namespace {

// The camera the global options choose, as the application interface names it.
std::string SelectorOf(const GlobalOptions& global) {
    if (!global.usbDevice.empty()) return "usb:" + global.usbDevice;
    if (!global.usbPath.empty()) return "usb-path:" + global.usbPath;
    if (!global.sim) return "";
    std::ostringstream selector;
    selector << "sim:scene=" << global.simScene << ",fps=" << global.simFps;
    if (global.simClock) selector << ",clock=" << *global.simClock;
    return selector.str();
}

void SetupServe(CLI::App& app, const GlobalOptions& global, int& exitCode) {
    auto listen = std::make_shared<std::string>(web::kDefaultListen);
    CLI::App* command = app.add_subcommand(
        "serve", "Show the live image and every control in a browser (Ctrl-C stops and saves)");
    command->add_option("--listen", *listen, "Address to serve on, HOST:PORT")
        ->capture_default_str();
    command->callback([&global, &exitCode, listen] {
        exitCode = web::RunServe({SelectorOf(global), global.settingsDir, *listen, global.quiet});
    });
}

}  // namespace

BAYERCAM_COMMAND(serve, SetupServe);

}  // namespace bayercam::tool
