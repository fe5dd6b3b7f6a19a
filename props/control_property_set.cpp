#include "props/control_property_set.h"

#include <string_view>

#include "core/control_table.h"
#include "props/camera_operation_handlers.h"
#include "props/fixed_answer_handlers.h"
#include "props/image_setting_handlers.h"
#include "props/stored_value_handlers.h"

namespace bayercam {
namespace {

constexpr uint32_t kControlSize = sizeof(ControlRequest);
constexpr uint32_t kRoiSize = sizeof(RoiRequest);
constexpr uint32_t kRawSize = sizeof(RawCommandRequest);

using D = CameraDevice;
using S = ImageSetting;
using C = Control;

// What the range items of a control report.
constexpr int32_t Minimum(Control control) {
    return Info(control).minimum;
}
constexpr int32_t Maximum(Control control) {
    return Info(control).maximum;
}
constexpr int32_t Default(Control control) {
    return Info(control).reportedDefault;
}

constexpr PFNKSHANDLER kNone = nullptr;

constexpr std::array<ControlProperty, kControlPropertyCount> kRows = {{
    // id, name, get, set, size
    {0, "Reserved0", GetFixedAnswer<0>, SetNothing, kControlSize},
    {1, "Timeout", GetStoredValue<&D::timeout>, SetTimeoutProperty, kControlSize},
    {2, "Exposure", GetStoredValue<&D::exposure>, SetExposureProperty, kControlSize},
    {3, "ExposureMin", GetFixedAnswer<Minimum(C::Exposure)>, kNone, kControlSize},
    {4, "ExposureMax", GetFixedAnswer<Maximum(C::Exposure)>, kNone, kControlSize},
    {5, "ExposureDefault", GetFixedAnswer<Default(C::Exposure)>, kNone, kControlSize},
    {6, "GlobalGain", GetStoredValue<&D::globalGain>, SetGlobalGainProperty, kControlSize},
    {7, "GlobalGainMin", GetFixedAnswer<Minimum(C::GlobalGain)>, kNone, kControlSize},
    {8, "GlobalGainMax", GetFixedAnswer<Maximum(C::GlobalGain)>, kNone, kControlSize},
    {9, "GlobalGainDefault", GetFixedAnswer<Default(C::GlobalGain)>, kNone, kControlSize},
    {10, "FlipH", GetStoredValue<&D::flipH>, SetStoredValue<&D::flipH>, kControlSize},
    {11, "FlipV", GetStoredValue<&D::flipV>, SetStoredValue<&D::flipV>, kControlSize},
    {12, "ColorEnable", GetImageSetting<S::ColorEnable>, SetImageSetting<S::ColorEnable>,
     kControlSize},
    {13, "WhiteBalance", GetImageSetting<S::WhiteBalance>, SetImageSetting<S::WhiteBalance>,
     kControlSize},
    {14, "RedGain", GetImageSetting<S::RedGain>, SetImageSetting<S::RedGain>, kControlSize},
    {15, "GreenGain", GetImageSetting<S::GreenGain>, SetImageSetting<S::GreenGain>, kControlSize},
    {16, "BlueGain", GetImageSetting<S::BlueGain>, SetImageSetting<S::BlueGain>, kControlSize},
    {17, "ColorGainMin", GetRangeAnswer<Minimum(C::RedGain)>, kNone, kControlSize},
    {18, "ColorGainMax", GetRangeAnswer<Maximum(C::RedGain)>, kNone, kControlSize},
    {19, "ColorGainDefault", GetRangeAnswer<Default(C::RedGain)>, kNone, kControlSize},
    {20, "Brightness", GetImageSetting<S::Brightness>, SetImageSetting<S::Brightness>,
     kControlSize},
    {21, "BrightnessMin", GetRangeAnswer<Minimum(C::Brightness)>, kNone, kControlSize},
    {22, "BrightnessMax", GetRangeAnswer<Maximum(C::Brightness)>, kNone, kControlSize},
    {23, "BrightnessDefault", GetRangeAnswer<Default(C::Brightness)>, kNone, kControlSize},
    {24, "Contrast", GetImageSetting<S::Contrast>, SetImageSetting<S::Contrast>, kControlSize},
    {25, "ContrastMin", GetRangeAnswer<Minimum(C::Contrast)>, kNone, kControlSize},
    {26, "ContrastMax", GetRangeAnswer<Maximum(C::Contrast)>, kNone, kControlSize},
    {27, "ContrastDefault", GetRangeAnswer<Default(C::Contrast)>, kNone, kControlSize},
    {28, "Saturation", GetImageSetting<S::Saturation>, SetImageSetting<S::Saturation>,
     kControlSize},
    {29, "SaturationMin", GetRangeAnswer<Minimum(C::Saturation)>, kNone, kControlSize},
    {30, "SaturationMax", GetRangeAnswer<Maximum(C::Saturation)>, kNone, kControlSize},
    {31, "SaturationDefault", GetRangeAnswer<Default(C::Saturation)>, kNone, kControlSize},
    {32, "Hue", GetImageSetting<S::Hue>, SetImageSetting<S::Hue>, kControlSize},
    {33, "HueMin", GetRangeAnswer<Minimum(C::Hue)>, kNone, kControlSize},
    {34, "HueMax", GetRangeAnswer<Maximum(C::Hue)>, kNone, kControlSize},
    {35, "HueDefault", GetRangeAnswer<Default(C::Hue)>, kNone, kControlSize},
    {36, "Reserved36", GetFixedAnswer<0>, kNone, kControlSize},
    {37, "SubSample", GetStoredValue<&D::subSample>, kNone, kControlSize},
    {38, "SensorWidth", GetFixedAnswer<kSensorWidth>, kNone, kControlSize},
    {39, "SensorHeight", GetFixedAnswer<kSensorHeight>, kNone, kControlSize},
    {40, "ReadoutX", GetStoredValue<&D::readoutX>, kNone, kControlSize},
    {41, "ReadoutY", GetStoredValue<&D::readoutY>, kNone, kControlSize},
    {42, "ReadoutWidth", GetStoredValue<&D::readoutWidth>, kNone, kControlSize},
    {43, "ReadoutHeight", GetStoredValue<&D::readoutHeight>, kNone, kControlSize},
    {44, "RegionOfInterest", kNone, SetRegionOfInterest, kRoiSize},
    {45, "GeometryLocked", GetStoredValue<&D::geometryLocked>, kNone, kControlSize},
    {46, "Reserved46", GetFixedAnswer<0>, kNone, kControlSize},
    {47, "Reserved47", kNone, SetNothing, kControlSize},
    {48, "ColorCorrection", GetImageSetting<S::ColorCorrection>,
     SetImageSetting<S::ColorCorrection>, kControlSize},
    {49, "Clock", GetClockProperty, SetClockProperty, kControlSize},
    {50, "Reserved50", GetFixedAnswer<0>, kNone, kControlSize},
    {51, "Reserved51", GetFixedAnswer<1>, kNone, kControlSize},
    {52, "Reserved52", GetFixedAnswer<1>, kNone, kControlSize},
    {53, "Reserved53", GetFixedAnswer<0>, kNone, kControlSize},
    {54, "Reserved54", GetFixedAnswer<0>, kNone, kControlSize},
    {55, "AGC", GetStoredValue<&D::agc>, SetNothing, kControlSize},
    {56, "AEC", GetStoredValue<&D::aec>, SetNothing, kControlSize},
    {57, "SensorRegisterWrite", GetUnreadable, SetSensorRegisterWrite, kControlSize},
    {58, "RegisterShadow", GetRegisterShadow, SetStoredValue<&D::selectedRegister>, kControlSize},
    {59, "RawCommand", GetUnreadable, SetRawCommand, kRawSize},
    {60, "MemoryByte", GetMemoryByte, SetStoredValue<&D::selectedRegister>, kRawSize},
    {61, "Reserved61", GetFixedAnswer<0>, kNone, kControlSize},
    {62, "Reserved62", GetFixedAnswer<0>, kNone, kControlSize},
    {63, "Reserved63", GetFixedAnswer<0>, SetNothing, kControlSize},
    {64, "Reserved64", GetFixedAnswer<0>, SetNothing, kControlSize},
    {65, "Reserved65", GetFixedAnswer<0>, SetNothing, kControlSize},
    {66, "Reserved66", GetFixedAnswer<0>, SetNothing, kControlSize},
    {67, "Reinitialize", kNone, SetReinitialize, kControlSize},
    {68, "Reserved68", GetFixedAnswer<0>, kNone, kControlSize},
}};

constexpr bool RowsInIdOrder() {
    for (uint32_t i = 0; i < kRows.size(); ++i)
        if (kRows[i].id != i) return false;
    return true;
}
static_assert(RowsInIdOrder());

// Each control's property bears the control's name, and its range items follow one another.
constexpr bool RowsMatchTheControls() {
    for (const ControlInfo& info : kControls) {
        if (info.propertyId != kNoProperty &&
            std::string_view(kRows[info.propertyId].name) != info.name)
            return false;
        if (info.rangeProperty == kNoProperty) continue;
        const ControlProperty* range = &kRows[info.rangeProperty];
        if (!std::string_view(range[0].name).ends_with("Min") ||
            !std::string_view(range[1].name).ends_with("Max") ||
            !std::string_view(range[2].name).ends_with("Default"))
            return false;
    }
    return true;
}
static_assert(RowsMatchTheControls());

// No item has value ranges, relations, a support handler or a serialized size.
constexpr std::array<KSPROPERTY_ITEM, kControlPropertyCount> MakeItems() {
    std::array<KSPROPERTY_ITEM, kControlPropertyCount> items{};
    for (uint32_t i = 0; i < kRows.size(); ++i) {
        const ControlProperty& row = kRows[i];
        items[i] = {row.id,  row.get, row.minSize, row.minSize, row.set,
                    nullptr, 0,       nullptr,     nullptr,     0};
    }
    return items;
}

constexpr std::array<KSPROPERTY_ITEM, kControlPropertyCount> kItems = MakeItems();

}  // namespace

const std::array<ControlProperty, kControlPropertyCount> kControlProperties = kRows;

const KSPROPERTY_SET ControlPropertySet = {
    &ControlPropertySetId, kControlPropertyCount, kItems.data(), 0, nullptr,
};

}  // namespace bayercam
