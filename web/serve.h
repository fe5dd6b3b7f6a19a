// `bayercam serve`: the camera's control panel and live view in a browser.
#pragma once

#include <string>

#include "web/listen_address.h"

namespace bayercam::web {

struct ServeOptions {
    std::string selector;     // as bayercam_open takes it
    std::string settingsDir;  // empty: the default folder
    std::string listen = kDefaultListen;
    bool quiet = false;
};

// Serves until SIGINT or SIGTERM, then stops the stream and saves the settings. Prints the page's
// address on standard output once it can be reached. The process exit code.
int RunServe(const ServeOptions& options);

}  // namespace bayercam::web
