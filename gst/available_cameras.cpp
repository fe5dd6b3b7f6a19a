#include "gst/available_cameras.h"

#include <bayercam/bayercam.h>

#include <cstdlib>
#include <cstring>

namespace bayercam::gst {

std::vector<std::string> AvailableCameras() {
    std::vector<std::string> cameras;
    char** selectors = nullptr;
    size_t count = 0;
    if (bayercam_list(&selectors, &count) == 0) {
        cameras.assign(selectors, selectors + count);
        bayercam_free_list(selectors, count);
    }
    const char* sim = std::getenv(kSimulatedCameraVariable);
    if (sim && *sim && std::strcmp(sim, "0") != 0) cameras.push_back("sim");
    return cameras;
}

}  // namespace bayercam::gst
