// Every setting of a device as data: the property that reads or writes it, the value it is saved
// as, its range and default, and where it takes effect. The device's and the image processor's
// defaults, the property set's range items and the settings load and save all read this table.
#pragma once

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <variant>

#include "core/camera_device.h"

namespace bayercam {

// The settings, in the order in which the settings store reads and writes them.
enum class Control : size_t {
    Timeout,
    Exposure,
    GlobalGain,
    FlipH,
    FlipV,
    ColorEnable,
    WhiteBalance,
    ColorCorrection,
    Brightness,
    Contrast,
    Saturation,
    Hue,
    RedGain,
    GreenGain,
    BlueGain,
    Agc,
    Aec,
    Clock,
    ExTrigger,
    SubSample,
    RoiX,
    RoiY,
    RoiW,
    RoiH,
};
inline constexpr size_t kControlCount = 24;

// Where a control's value takes effect.
enum class ControlTarget {
    Camera,          // programmed into the camera's registers; 0 until it has been
    Stream,          // read by the frame read or the pin's copy step
    ImageProcessor,  // held by the open stream's image processor as well
    Geometry,        // a side of the region of interest, applied as a whole
    None,            // kept, reported and saved, without an effect
};

inline constexpr int32_t kNoProperty = -1;

// The device member that holds a control; only the global gain is unsigned.
using ControlMember = std::variant<AtomicInt32 CameraDevice::*, AtomicUint32 CameraDevice::*>;

struct ControlInfo {
    Control control;
    int32_t propertyId;     // the property that reads or writes it, kNoProperty for none
    const char* name;       // that property's name, null for none
    const char* savedName;  // its value in the settings store
    int32_t minimum;
    int32_t maximum;
    int32_t defaultValue;  // what a device starts with and what a missing saved value loads
    ControlTarget target;
    ControlMember member;
    // The first of the three properties that report minimum, maximum and default, in that
    // order; kNoProperty for none.
    int32_t rangeProperty;
    // What that default property reports. Equal to defaultValue except for the global gain, whose
    // reported default (512) applications have always been given although the driver starts
    // from 0.
    int32_t reportedDefault;
};

namespace control_table {

using D = CameraDevice;
using T = ControlTarget;
// Switches and carried values are taken as given.
inline constexpr int32_t kAny = INT32_MIN;
inline constexpr int32_t kAll = INT32_MAX;

inline constexpr std::array<ControlInfo, kControlCount> kRows = {{
    // control, property, name, saved as, min, max, default, target, member, range items, reported
    {Control::Timeout, 1, "Timeout", "Timeout", 501, 9999, 3000, T::Stream, &D::timeout,
     kNoProperty, 3000},
    {Control::Exposure, 2, "Exposure", "Exposure", 8, 1074, 8, T::Camera, &D::exposure, 3, 8},
    {Control::GlobalGain, 6, "GlobalGain", "GlobalGain", 0, 1023, 0, T::Camera, &D::globalGain, 7,
     512},
    {Control::FlipH, 10, "FlipH", "FlipH", kAny, kAll, 0, T::Stream, &D::flipH, kNoProperty, 0},
    {Control::FlipV, 11, "FlipV", "FlipV", kAny, kAll, 0, T::Stream, &D::flipV, kNoProperty, 0},
    {Control::ColorEnable, 12, "ColorEnable", "ColorEnable", kAny, kAll, 1, T::ImageProcessor,
     &D::colorEnable, kNoProperty, 1},
    {Control::WhiteBalance, 13, "WhiteBalance", "WhiteBalance", kAny, kAll, 0, T::ImageProcessor,
     &D::whiteBalance, kNoProperty, 0},
    {Control::ColorCorrection, 48, "ColorCorrection", "ColorCorrection", kAny, kAll, 1,
     T::ImageProcessor, &D::colorCorrection, kNoProperty, 1},
    {Control::Brightness, 20, "Brightness", "Brightness", 0, 510, 255, T::ImageProcessor,
     &D::brightness, 21, 255},
    {Control::Contrast, 24, "Contrast", "Contrast", 0, 20, 10, T::ImageProcessor, &D::contrast, 25,
     10},
    {Control::Saturation, 28, "Saturation", "Saturation", 0, 20, 10, T::ImageProcessor,
     &D::saturation, 29, 10},
    {Control::Hue, 32, "Hue", "Hue", 0, 359, 0, T::ImageProcessor, &D::hue, 33, 0},
    // The three colour gains share one set of range items.
    {Control::RedGain, 14, "RedGain", "RedGain", 1, 512, 128, T::ImageProcessor, &D::redGain, 17,
     128},
    {Control::GreenGain, 15, "GreenGain", "GreenGain", 1, 512, 128, T::ImageProcessor,
     &D::greenGain, 17, 128},
    {Control::BlueGain, 16, "BlueGain", "BlueGain", 1, 512, 128, T::ImageProcessor, &D::blueGain,
     17, 128},
    {Control::Agc, 55, "AGC", "AGC", kAny, kAll, 0, T::None, &D::agc, kNoProperty, 0},
    {Control::Aec, 56, "AEC", "AEC", kAny, kAll, 0, T::None, &D::aec, kNoProperty, 0},
    // A load starts from the selection the camera reports, not from this default.
    {Control::Clock, 49, "Clock", "Clock", 0, 5, 0, T::Camera, &D::clock, kNoProperty, 0},
    {Control::ExTrigger, kNoProperty, nullptr, "ExTrigger", kAny, kAll, 0, T::None, &D::exTrigger,
     kNoProperty, 0},
    {Control::SubSample, 37, "SubSample", "SubSample", kAny, kAll, 0, T::None, &D::subSample,
     kNoProperty, 0},
    // A saved side outside its range (compared unsigned) loads the default: the whole sensor.
    {Control::RoiX, 44, "RegionOfInterest", "RoiX", 0, kSensorWidth - 1, 0, T::Geometry, &D::roiX,
     kNoProperty, 0},
    {Control::RoiY, 44, "RegionOfInterest", "RoiY", 0, kSensorHeight - 1, 0, T::Geometry, &D::roiY,
     kNoProperty, 0},
    {Control::RoiW, 44, "RegionOfInterest", "RoiW", 0, kSensorWidth, kSensorWidth, T::Geometry,
     &D::roiW, kNoProperty, kSensorWidth},
    {Control::RoiH, 44, "RegionOfInterest", "RoiH", 0, kSensorHeight, kSensorHeight, T::Geometry,
     &D::roiH, kNoProperty, kSensorHeight},
}};

constexpr bool RowsInControlOrder() {
    for (size_t i = 0; i < kRows.size(); ++i)
        if (static_cast<size_t>(kRows[i].control) != i) return false;
    return true;
}
static_assert(RowsInControlOrder());

}  // namespace control_table

inline constexpr const std::array<ControlInfo, kControlCount>& kControls = control_table::kRows;

constexpr const ControlInfo& Info(Control control) {
    return kControls[static_cast<size_t>(control)];
}

// The device's value of a control, and its replacement (no clamp, no effect beyond the store).
int32_t ReadControl(const CameraDevice* device, Control control);
void StoreControl(CameraDevice* device, Control control, int32_t value);

}  // namespace bayercam
