#include "gst/control_params.h"

#include <bayercam/bayercam.h>
#include <glib.h>
#include <gst/gst.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "gst/property_name.h"

namespace bayercam::gst {
namespace {

// Opening a camera loads its saved settings and closing saves them: an empty folder of our own
// keeps the user's settings out of it, and is removed afterwards.
class ScratchSettingsDir {
  public:
    ScratchSettingsDir() : path_(g_dir_make_tmp("bayercamsrc-XXXXXX", nullptr)) {}
    ~ScratchSettingsDir() {
        if (!path_) return;
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        g_free(path_);
    }
    const char* Path() const { return path_; }

  private:
    gchar* path_;
};

// Controls that are on when non-zero: boolean properties, so that "white-balance=true" reads
// as it means.
bool IsSwitch(const char* name) {
    static const char* const kSwitches[] = {"FlipH", "FlipV", "ColorEnable",     "WhiteBalance",
                                            "AGC",   "AEC",   "ColorCorrection", "GeometryLocked"};
    return std::any_of(std::begin(kSwitches), std::end(kSwitches),
                       [name](const char* onOff) { return std::strcmp(name, onOff) == 0; });
}

// What a control's name alone does not tell.
std::string BlurbOf(const std::string& control) {
    static const std::map<std::string, std::string> kBlurbs = {
        {"Timeout", "How long the driver waits for one frame, in milliseconds"},
        {"Clock", "The camera's clock selection"},
        {"RegisterShadow",
         "Set: selects a sensor register; get: the value last written to the one selected"},
        {"AGC", "Kept and saved, without an effect on the image"},
        {"AEC", "Kept and saved, without an effect on the image (see auto-exposure)"},
        {"GeometryLocked", "Whether the region is fixed, as it is while the camera streams"},
    };
    auto found = kBlurbs.find(control);
    return found != kBlurbs.end() ? found->second : "The camera's " + control + " control";
}

}  // namespace

std::vector<ControlParam> DescribeControls() {
    std::vector<ControlParam> controls;
    ScratchSettingsDir settings;
    bayercam_camera* camera = nullptr;
    if (!settings.Path() || bayercam_open("sim", settings.Path(), &camera) != 0) return controls;
    bayercam_control_info info{};
    for (uint32_t index = 0; bayercam_describe_control(camera, index, &info) == 0; ++index) {
        // Write-only controls are actions (start the camera again), not settings to hold.
        if (!(info.flags & BAYERCAM_CONTROL_READ)) continue;
        ControlParam control{info.name,
                             PropertyNameOf(info.name),
                             info.min,
                             info.max,
                             info.def,
                             false,
                             (info.flags & BAYERCAM_CONTROL_WRITE) != 0};
        if (!(info.flags & BAYERCAM_CONTROL_RANGE)) {
            // The switches; and the figures the camera reports, positions, sizes and counts. A
            // fresh camera holds the default.
            control.minimum = 0;
            control.maximum = IsSwitch(info.name) ? 1 : G_MAXINT32;
            if (bayercam_get_control(camera, info.name, &control.byDefault) != 0) continue;
        }
        control.boolean = control.minimum == 0 && control.maximum == 1;
        controls.push_back(control);
    }
    bayercam_close(camera);
    return controls;
}

GParamSpec* ParamSpecOf(const ControlParam& control) {
    auto flags = static_cast<GParamFlags>(
        control.writable ? G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING
                         : G_PARAM_READABLE | G_PARAM_STATIC_STRINGS);
    const gchar* nick = g_intern_string(control.control.c_str());
    const gchar* name = g_intern_string(control.property.c_str());
    const gchar* text = g_intern_string(BlurbOf(control.control).c_str());
    if (control.boolean)
        return g_param_spec_boolean(name, nick, text, control.byDefault != 0, flags);
    return g_param_spec_int(name, nick, text, control.minimum, control.maximum, control.byDefault,
                            flags);
}

void ControlToValue(const ControlParam& control, int32_t value, GValue* out) {
    if (control.boolean)
        g_value_set_boolean(out, value != 0);
    else
        g_value_set_int(out, value);
}

int32_t ControlFromValue(const ControlParam& control, const GValue* value) {
    return control.boolean ? (g_value_get_boolean(value) ? 1 : 0) : g_value_get_int(value);
}

}  // namespace bayercam::gst
