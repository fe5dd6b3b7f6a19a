// A control write from the network: the control's name up to the first newline, then the body.
// Whatever arrives, the answer is a status the API documents, and an accepted write carries
// exactly the values the control takes, inside its range.
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzz_target.h"
#include "web/control_api.h"
#include "web/request_origin.h"

namespace {

const std::vector<bayercam::web::ControlInfo> kControls = {
    {"Exposure", 2, true, true, 8, 1074, 8},
    {"Hue", 32, true, true, 0, 359, 0},
    {"FlipH", 10, true, true, {}, {}, {}},
    {"SensorWidth", 38, true, false, {}, {}, {}},
    {std::string(bayercam::web::kRegionControl), 44, false, true, {}, {}, {}},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bayercam::web;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    std::string_view name = input.substr(0, newline);
    std::string_view body = newline == std::string_view::npos ? "" : input.substr(newline + 1);

    ControlWrite write = ParseControlWrite(kControls, name, body);
    if (write.status != 200) {
        if ((write.status != 400 && write.status != 404) || write.error.empty()) std::abort();
    } else {
        const ControlInfo* control = write.control;
        if (!control || !control->writable || !write.error.empty()) std::abort();
        if (write.values.size() != (control->name == kRegionControl ? 4u : 1u)) std::abort();
        if (control->minimum &&
            (write.values[0] < *control->minimum || write.values[0] > *control->maximum))
            std::abort();
    }
    // The same bytes as the headers the origin checks read.
    IsAllowedHost(name, true);
    IsSameOriginWrite(name, body.substr(0, body.find('\n')), name);
    return 0;
}
