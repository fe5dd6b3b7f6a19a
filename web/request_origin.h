// Which requests the server answers. A server bound to loopback answers only requests that name a
// loopback host, so a web page whose DNS name is rebound to 127.0.0.1 cannot read the camera; and
// changes come only from the page's own origin, so a page elsewhere cannot drive the camera.
#pragma once

#include <string_view>

namespace bayercam::web {

// `host`: the Host header ("localhost:8080", "[::1]:8080", "10.0.0.5:8080").
bool IsAllowedHost(std::string_view host, bool loopbackOnly);

// A write carrying these headers (empty when absent) comes from the page served under `host`.
// Requests without Origin come from programs, not from pages, and are let through; browsers send
// Origin with every PUT.
bool IsSameOriginWrite(std::string_view origin, std::string_view fetchSite, std::string_view host);

// Whether `address` (as given to --listen) is a loopback address.
bool IsLoopbackAddress(std::string_view address);

}  // namespace bayercam::web
