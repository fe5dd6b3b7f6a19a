// The 24 saved settings: their value names and the defaults a missing value takes. Loading reads
// them and saving writes them in this same order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace bayercam {

// The group below the device's driver key that holds the values.
inline constexpr char kSettingsKeyName[] = "Settings";

struct SettingValue {
    const char* name;
    int32_t defaultValue;
};

// Positions in kSettingValues.
enum SettingIndex : size_t {
    kSettingTimeout,
    kSettingExposure,
    kSettingGlobalGain,
    kSettingFlipH,
    kSettingFlipV,
    kSettingColorEnable,
    kSettingWhiteBalance,
    kSettingColorCorrection,
    kSettingBrightness,
    kSettingContrast,
    kSettingSaturation,
    kSettingHue,
    kSettingRedGain,
    kSettingGreenGain,
    kSettingBlueGain,
    kSettingAgc,
    kSettingAec,
    kSettingClock,
    kSettingExTrigger,
    kSettingSubSample,
    kSettingRoiX,
    kSettingRoiY,
    kSettingRoiW,
    kSettingRoiH,
    kSettingCount,
};

// "Clock" has no fixed default: a load starts from the clock selection the camera reports, so
// its entry here only stands in until that is read.
inline constexpr std::array<SettingValue, kSettingCount> kSettingValues = {{
    {"Timeout", 3000},   {"Exposure", 8},    {"GlobalGain", 0},   {"FlipH", 0},
    {"FlipV", 0},        {"ColorEnable", 1}, {"WhiteBalance", 0}, {"ColorCorrection", 1},
    {"Brightness", 255}, {"Contrast", 10},   {"Saturation", 10},  {"Hue", 0},
    {"RedGain", 128},    {"GreenGain", 128}, {"BlueGain", 128},   {"AGC", 0},
    {"AEC", 0},          {"Clock", 0},       {"ExTrigger", 0},    {"SubSample", 0},
    {"RoiX", 0},         {"RoiY", 0},        {"RoiW", 1360},      {"RoiH", 1024},
}};

}  // namespace bayercam
