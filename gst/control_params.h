// The camera's readable controls as element properties: one GParamSpec each, carrying the
// control's range and default; the read-only figures (sensor size, readout window) read-only.
#pragma once

#include <glib-object.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bayercam::gst {

struct ControlParam {
    std::string control;   // the camera's name, "GlobalGain"
    std::string property;  // the element's name, "global-gain"
    int32_t minimum;
    int32_t maximum;
    int32_t byDefault;
    bool boolean;   // a 0..1 switch, a boolean property
    bool writable;  // else a figure the camera reports
};

// The controls that can be read, with their ranges and defaults, read from a simulated camera
// opened for the purpose (they are the driver's, the same for every camera); empty when it
// cannot open.
std::vector<ControlParam> DescribeControls();

// The property's GParamSpec; changes to a writable one are applied while playing.
GParamSpec* ParamSpecOf(const ControlParam& control);

// A property value from the control's value and back.
void ControlToValue(const ControlParam& control, int32_t value, GValue* out);
int32_t ControlFromValue(const ControlParam& control, const GValue* value);

}  // namespace bayercam::gst
