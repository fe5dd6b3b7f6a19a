#include "gst/announced_framerate.h"

#include <gst/gst.h>

#include <cstdlib>
#include <sstream>

namespace bayercam::gst {

Framerate AnnouncedFramerate(const std::string& selector) {
    Framerate nominal{30, 1};
    const std::string simPrefix = "sim:";
    if (selector.rfind(simPrefix, 0) != 0) return nominal;
    std::istringstream options(selector.substr(simPrefix.size()));
    std::string option;
    while (std::getline(options, option, ',')) {
        if (option.rfind("fps=", 0) != 0) continue;
        char* end = nullptr;
        double fps = std::strtod(option.c_str() + 4, &end);
        if (*end != '\0' || !(fps >= 0) || fps > G_MAXINT) return nominal;
        Framerate rate{0, 1};
        if (fps > 0) gst_util_double_to_fraction(fps, &rate.numerator, &rate.denominator);
        return rate;
    }
    return nominal;
}

}  // namespace bayercam::gst
