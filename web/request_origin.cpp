#include "web/request_origin.h"

#include <algorithm>
#include <cctype>

namespace bayercam::web {
namespace {

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// The host name of a Host header, without port or IPv6 brackets; empty when malformed.
std::string_view HostName(std::string_view host) {
    if (host.starts_with('[')) {
        size_t close = host.find(']');
        if (close == std::string_view::npos) return {};
        std::string_view rest = host.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':')) return {};
        return host.substr(1, close - 1);
    }
    return host.substr(0, host.find(':'));
}

}  // namespace

bool IsLoopbackAddress(std::string_view address) {
    bool dottedQuad = std::ranges::all_of(
        address, [](char c) { return c == '.' || std::isdigit(static_cast<unsigned char>(c)); });
    return EqualIgnoringCase(address, "localhost") || address == "::1" ||
           (address.starts_with("127.") && dottedQuad);
}

bool IsAllowedHost(std::string_view host, bool loopbackOnly) {
    std::string_view name = HostName(host);
    if (name.empty()) return false;
    return !loopbackOnly || IsLoopbackAddress(name);
}

bool IsSameOriginWrite(std::string_view origin, std::string_view fetchSite, std::string_view host) {
    if (!fetchSite.empty() && fetchSite != "same-origin" && fetchSite != "none") return false;
    if (origin.empty()) return true;
    constexpr std::string_view kScheme = "http://";
    return origin.size() > kScheme.size() &&
           EqualIgnoringCase(origin.substr(0, kScheme.size()), kScheme) &&
           EqualIgnoringCase(origin.substr(kScheme.size()), host);
}

}  // namespace bayercam::web
