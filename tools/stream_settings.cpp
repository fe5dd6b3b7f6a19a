#include "tools/stream_settings.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "camera/camera_geometry.h"
#include "core/camera_device.h"

namespace bayercam::tool {
namespace {

using Clamp = int64_t (*)(int64_t);

int64_t Unchanged(int64_t value) {
    return value;
}
int64_t ColorGain(int64_t value) {
    return std::clamp<int64_t>(value, 1, 512);
}
int64_t Brightness(int64_t value) {
    return std::clamp<int64_t>(value, 0, 510);
}
int64_t Level(int64_t value) {
    return std::clamp<int64_t>(value, 0, 20);
}
int64_t Hue(int64_t value) {
    return std::clamp<int64_t>(value, 0, 359);
}
// The camera's own clamps are unsigned: a negative request lands on the maximum.
int64_t Exposure(int64_t value) {
    return std::clamp<int64_t>(uint32_t(value), 8, 1074);
}
int64_t GlobalGain(int64_t value) {
    return std::min<int64_t>(uint32_t(value), 1023);
}

struct Setting {
    const char* name;
    std::atomic<int32_t> CameraDevice::*field;
    Clamp clamp;
};

const Setting kSettings[] = {
    {"FlipH", &CameraDevice::flipH, &Unchanged},
    {"FlipV", &CameraDevice::flipV, &Unchanged},
    {"ColorEnable", &CameraDevice::colorEnable, &Unchanged},
    {"WhiteBalance", &CameraDevice::whiteBalance, &Unchanged},
    {"RedGain", &CameraDevice::redGain, &ColorGain},
    {"GreenGain", &CameraDevice::greenGain, &ColorGain},
    {"BlueGain", &CameraDevice::blueGain, &ColorGain},
    {"Brightness", &CameraDevice::brightness, &Brightness},
    {"Contrast", &CameraDevice::contrast, &Level},
    {"Saturation", &CameraDevice::saturation, &Level},
    {"Hue", &CameraDevice::hue, &Hue},
    {"ColorCorrection", &CameraDevice::colorCorrection, &Unchanged},
    {"Exposure", &CameraDevice::exposure, &Exposure},
};

bool ParseInteger(const std::string& text, int64_t* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > UINT32_MAX) return false;
    *value = parsed;
    return true;
}

}  // namespace

const std::vector<std::string>& SettingNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const Setting& setting : kSettings) all.push_back(setting.name);
        all.push_back("GlobalGain");
        return all;
    }();
    return names;
}

bool ApplySetting(CameraDevice* device, const std::string& assignment, std::string* error) {
    size_t equals = assignment.find('=');
    std::string name = assignment.substr(0, equals);
    int64_t value = 0;
    if (equals == std::string::npos || !ParseInteger(assignment.substr(equals + 1), &value)) {
        *error = "--set " + assignment + ": expected NAME=INTEGER";
        return false;
    }
    // Exposure and gain are stored here; the stream start programs them into the camera.
    if (name == "GlobalGain") {
        device->globalGain.store(uint32_t(GlobalGain(value)));
        return true;
    }
    for (const Setting& setting : kSettings) {
        if (name != setting.name) continue;
        (device->*setting.field).store(int32_t(setting.clamp(value)));
        return true;
    }
    std::ostringstream known;
    for (const std::string& known_name : SettingNames()) known << " " << known_name;
    *error = "--set " + assignment + ": unknown setting; known:" + known.str();
    return false;
}

bool ApplyRoi(CameraDevice* device, const std::string& region, std::string* error) {
    int64_t values[4];
    std::istringstream in(region);
    std::string part;
    int count = 0;
    while (std::getline(in, part, ',')) {
        if (count == 4 || !ParseInteger(part, &values[count])) count = 5;
        if (count == 5) break;
        ++count;
    }
    if (count != 4) {
        *error = "--roi " + region + ": expected X,Y,W,H";
        return false;
    }
    if (device->geometryLocked.load() != 0) {
        *error = "--roi: the geometry is held by an open stream";
        return false;
    }
    SetGeometry(device, int32_t(values[0]), int32_t(values[1]), int32_t(values[2]),
                int32_t(values[3]));
    return true;
}

}  // namespace bayercam::tool
