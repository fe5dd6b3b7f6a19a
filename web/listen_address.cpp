#include "web/listen_address.h"

#include <charconv>

namespace bayercam::web {

bool ParseListenAddress(std::string_view text, std::string* host, int* port, std::string* error) {
    size_t colon = text.rfind(':');
    std::string_view name = colon == std::string_view::npos ? "" : text.substr(0, colon);
    if (name.starts_with('[') && name.ends_with(']')) name = name.substr(1, name.size() - 2);
    std::string_view digits = colon == std::string_view::npos ? "" : text.substr(colon + 1);
    int value = -1;
    auto [end, failure] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (name.empty() || digits.empty() || failure != std::errc() ||
        end != digits.data() + digits.size() || value < 0 || value > 65535) {
        *error = "--listen takes HOST:PORT, e.g. " + std::string(kDefaultListen);
        return false;
    }
    *host = name;
    *port = value;
    return true;
}

}  // namespace bayercam::web
