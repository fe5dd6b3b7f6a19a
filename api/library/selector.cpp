#include "api/library/selector.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace bayercam::library {
namespace {

constexpr std::string_view kSim = "sim";
constexpr std::string_view kUsb = "usb:";
constexpr std::string_view kUsbPath = "usb-path:";
constexpr std::string_view kOptionNames[] = {"scene", "fps", "clock"};

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool IsOptionStart(std::string_view part) {
    for (std::string_view name : kOptionNames) {
        if (part.size() > name.size() && StartsWith(part, name) && part[name.size()] == '=')
            return true;
    }
    return false;
}

// "key=value" parts split at commas; a comma not followed by a known key belongs to the value
// before it, so that a scene file's path may hold commas.
std::vector<std::string> SplitOptions(std::string_view list) {
    std::vector<std::string> parts;
    while (true) {
        size_t comma = list.find(',');
        std::string_view part = list.substr(0, comma);
        if (parts.empty() || IsOptionStart(part))
            parts.emplace_back(part);
        else
            parts.back().append(",").append(part);
        if (comma == std::string_view::npos) return parts;
        list.remove_prefix(comma + 1);
    }
}

bool ParseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(*value);
}

bool ParseSimOptions(std::string_view list, CameraChoice* choice, std::string* error) {
    for (const std::string& part : SplitOptions(list)) {
        size_t equals = part.find('=');
        std::string name = part.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : part.substr(equals + 1);
        double number = 0;
        if (name == "scene" && !value.empty()) {
            choice->simScene = value;
        } else if (name == "fps" && ParseNumber(value, &number) && number >= 0) {
            choice->simFps = number;
        } else if (name == "clock" && ParseNumber(value, &number) && number >= 0 && number <= 255 &&
                   number == std::floor(number)) {
            choice->simClock = static_cast<int32_t>(number);
        } else {
            *error = "'" + part + "': the simulated camera takes scene=chart|file:PATH, fps=F " +
                     "(0 or more) and clock=C (0..255)";
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParseCameraSelector(const char* selector, CameraChoice* choice, std::string* error) {
    *choice = {};
    std::string_view text = selector ? selector : "";
    if (text.empty()) return true;
    if (text == kSim) {
        choice->kind = CameraChoice::Kind::Simulated;
        return true;
    }
    if (StartsWith(text, kSim) && text.size() > kSim.size() && text[kSim.size()] == ':') {
        choice->kind = CameraChoice::Kind::Simulated;
        return ParseSimOptions(text.substr(kSim.size() + 1), choice, error);
    }
    if (StartsWith(text, kUsb) && text.size() > kUsb.size()) {
        choice->kind = CameraChoice::Kind::Usb;
        choice->usbDevice = text.substr(kUsb.size());
        return true;
    }
    if (StartsWith(text, kUsbPath) && text.size() > kUsbPath.size()) {
        choice->kind = CameraChoice::Kind::Usb;
        choice->usbPath = text.substr(kUsbPath.size());
        return true;
    }
    *error = "'" + std::string(text) +
             "': not a camera selector (sim, sim:scene=...,fps=...,clock=..., usb:VID:PID[:SERIAL] "
             "or usb-path:BUS-PORT[.PORT...])";
    return false;
}

}  // namespace bayercam::library
