// Settings applied to the camera before a stream opens (`--set NAME=VALUE`, `--roi`). All of
// them go through here, so that property requests can take this file's place in one step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bayercam {
struct CameraDevice;
}

namespace bayercam::tool {

// The setting names `--set` knows.
const std::vector<std::string>& SettingNames();

// Applies one "NAME=VALUE" (VALUE a decimal or 0x-hexadecimal integer), clamped as the property
// set clamps it. False with `*error` set for an unknown name or a malformed value.
bool ApplySetting(CameraDevice* device, const std::string& assignment, std::string* error);

// Applies a region of interest "X,Y,W,H" (aligned and bounded as the camera does). False with
// `*error` set when the text is malformed or a pin holds the geometry.
bool ApplyRoi(CameraDevice* device, const std::string& region, std::string* error);

}  // namespace bayercam::tool
