// The address `bayercam serve --listen` takes.
#pragma once

#include <string>
#include <string_view>

namespace bayercam::web {

inline constexpr const char* kDefaultListen = "127.0.0.1:8080";

// "HOST:PORT" or "[V6]:PORT"; port 0 takes a free one. False with `*error` set.
bool ParseListenAddress(std::string_view text, std::string* host, int* port, std::string* error);

}  // namespace bayercam::web
