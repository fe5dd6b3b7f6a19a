// bayercam convert IN.pgm OUT.(png|bgra) [--roi X,Y,W,H] [--set NAME=VALUE ...]: one raw frame
// through the processing a live capture applies, from the camera's saved settings plus
// overrides: the file a capture of that frame would have written.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/camera_geometry.h"
#include "core/camera_device.h"
#include "imaging/image_processor.h"
#include "imaging/pgm.h"
#include "platform/kernel/pool.h"
#include "platform/registry/registry.h"
#include "props/image_settings.h"
#include "settings/settings_store.h"
#include "stream/frame_copy.h"
#include "stream/region_conversion.h"
#include "tools/camera_choice.h"
#include "tools/command.h"
#include "tools/control_properties.h"
#include "tools/png_writer.h"
#include "tools/whole_file.h"

namespace bayercam::tool {
namespace {

// An override by property name: a pipeline setting, clamped as the property set clamps it, or a
// flip.
struct Override {
    const char* name;
    std::optional<ImageSetting> setting;
    AtomicInt32 CameraDevice::*flip;
    int32_t value;
};

constexpr Override kOverrides[] = {
    {"ColorEnable", ImageSetting::ColorEnable, nullptr, 0},
    {"WhiteBalance", ImageSetting::WhiteBalance, nullptr, 0},
    {"RedGain", ImageSetting::RedGain, nullptr, 0},
    {"GreenGain", ImageSetting::GreenGain, nullptr, 0},
    {"BlueGain", ImageSetting::BlueGain, nullptr, 0},
    {"ColorCorrection", ImageSetting::ColorCorrection, nullptr, 0},
    {"Brightness", ImageSetting::Brightness, nullptr, 0},
    {"Contrast", ImageSetting::Contrast, nullptr, 0},
    {"Saturation", ImageSetting::Saturation, nullptr, 0},
    {"Hue", ImageSetting::Hue, nullptr, 0},
    {"FlipH", std::nullopt, &CameraDevice::flipH, 0},
    {"FlipV", std::nullopt, &CameraDevice::flipV, 0},
};

bool SameName(const std::string& a, const char* b) {
    return a.size() == std::strlen(b) && std::equal(a.begin(), a.end(), b, [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// NAME=VALUE with a pipeline property's name and one 32-bit value.
bool ParseOverride(const std::string& text, Override* out, std::string* error) {
    const ControlProperty* property = nullptr;
    std::vector<int32_t> values;
    if (!ParseAssignment(text, &property, &values, error)) return false;
    for (const Override& o : kOverrides) {
        if (std::strcmp(o.name, property->name) != 0) continue;
        *out = o;
        out->value = values.front();
        return true;
    }
    *error = "'" + text + "': " + property->name + " does not change the colour pipeline";
    return false;
}

// The settings a stream of this camera would start from: its saved ones, else the defaults.
// False with `*error` set when the camera's settings cannot be found.
bool LoadStartingSettings(const GlobalOptions& global, CameraDevice* device, std::string* error) {
    std::string instanceId;
    if (!FindSettingsInstance(global, &instanceId, error)) return false;
    DEVICE_OBJECT instance{};
    SettingArray values = DefaultSettings();
    if (NT_SUCCESS(RegistryRegisterDevice(&instance, instanceId, global.settingsDir))) {
        ReadSavedSettings(&instance, &values);
        RegistryUnregisterDevice(&instance);
    }
    device->defaultPipelineMode = 2;
    RefreshPipelineMode(device);
    ApplyStreamSettings(device, values);
    return true;
}

void ApplyOverride(CameraDevice* device, const Override& o) {
    if (o.setting)
        StoreImageSetting(device, *o.setting, o.value);
    else
        (device->*o.flip).store(o.value);
}

// What a capture of this raw frame delivers: the region converted as the stream converts it,
// then copied into a client frame of the format the pin offers (bottom-up unless flipped
// vertically, mirrored when flipped horizontally). Empty when memory runs out.
std::vector<uint8_t> ClientFrame(CameraDevice* device, const PgmImage& raw) {
    ImageProcessor* processor = CreateImageProcessor(device);
    if (!processor) return {};
    const int32_t width = device->roiW.load();
    const int32_t height = device->roiH.load();
    SetFrameSize(processor, uint32_t(width), uint32_t(height));
    AllocateWorkBuffer(processor);
    std::vector<uint8_t> frame;
    if (processor->workBuffer) {
        std::vector<uint8_t> image(size_t(width) * height * 4);
        processor->outputBuffer = image.data();
        ConvertRegion(processor, raw.pixels.data(),
                      RoiStart(0, int32_t(raw.width), device->roiX.load(), device->roiY.load()),
                      raw.width);
        const int32_t outputWidth = device->outputWidth.load();
        const int32_t outputHeight = device->outputHeight.load();
        FrameCopy copy{width,
                       height,
                       outputWidth,
                       outputHeight,
                       FramePitch(0, outputWidth),
                       ReadFlipH(device) != 0,
                       ReadFlipV(device) != 0};
        frame.resize(size_t(copy.pitch) * outputHeight);
        CopyImageToFrame(copy, image.data(), frame.data(), uint32_t(frame.size()));
    }
    FreeImageProcessor(processor);
    return frame;
}

bool EndsWith(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return text.size() >= n && SameName(text.substr(text.size() - n), suffix);
}

struct ConvertOptions {
    std::string input;
    std::string output;
    std::vector<std::string> overrides;
    std::string roi;
};

// "X,Y,W,H", aligned and bounded as the camera's region of interest is.
bool ApplyRoi(CameraDevice* device, const std::string& text, std::string* error) {
    const ControlProperty* property = nullptr;
    std::vector<int32_t> values;
    if (!ParseAssignment("RegionOfInterest=" + text, &property, &values, error)) return false;
    if (values.size() != 4) {
        *error = "--roi " + text + ": expected X,Y,W,H";
        return false;
    }
    SetGeometry(device, values[0], values[1], values[2], values[3]);
    return true;
}

int RunConvert(const GlobalOptions& global, const ConvertOptions& options) {
    const bool png = EndsWith(options.output, ".png");
    if (!png && !EndsWith(options.output, ".bgra")) {
        std::fprintf(stderr, "bayercam convert: %s: output must end in .png or .bgra\n",
                     options.output.c_str());
        return kExitUsage;
    }
    std::vector<Override> overrides;
    for (const std::string& text : options.overrides) {
        Override o{};
        std::string error;
        if (!ParseOverride(text, &o, &error)) {
            std::fprintf(stderr, "bayercam convert: --set %s\n", error.c_str());
            return kExitUsage;
        }
        overrides.push_back(o);
    }

    PgmImage raw;
    std::string error;
    if (!ReadPgmFile(options.input, kSensorWidth, kSensorHeight, &raw, &error)) {
        std::fprintf(stderr, "bayercam convert: %s: %s\n", options.input.c_str(), error.c_str());
        return kExitFailure;
    }

    CameraDevice* device = PoolNew<CameraDevice>();
    if (!device) {
        std::fprintf(stderr, "bayercam convert: out of memory\n");
        return kExitFailure;
    }
    if (!LoadStartingSettings(global, device, &error)) {
        std::fprintf(stderr, "bayercam convert: %s\n", error.c_str());
        PoolDelete(device);
        return kExitFailure;
    }
    for (const Override& o : overrides) ApplyOverride(device, o);
    if (!options.roi.empty() && !ApplyRoi(device, options.roi, &error)) {
        std::fprintf(stderr, "bayercam convert: %s\n", error.c_str());
        PoolDelete(device);
        return kExitUsage;
    }
    const int32_t width = device->outputWidth.load();
    const int32_t height = device->outputHeight.load();
    const std::vector<uint8_t> frame =
        width > 0 ? ClientFrame(device, raw) : std::vector<uint8_t>{};
    bool written = false;
    if (width <= 0) {
        std::fprintf(stderr, "bayercam convert: the region is narrower than 8 pixels\n");
    } else if (frame.empty()) {
        std::fprintf(stderr, "bayercam convert: out of memory\n");
    } else {
        // As a capture writes it: the bottom-up frame from its last row, so it shows upright.
        const ptrdiff_t pitch = ptrdiff_t(width) * 4;
        auto write = [&](std::FILE* out, std::string* failure) {
            if (png)
                return WritePngBgra(out, frame.data() + (height - 1) * pitch, uint32_t(width),
                                    uint32_t(height), -pitch, failure);
            return std::fwrite(frame.data(), 1, frame.size(), out) == frame.size();
        };
        written = WriteFileWhole(options.output, write, &error);
        if (!written) std::fprintf(stderr, "bayercam convert: %s\n", error.c_str());
    }
    PoolDelete(device);
    return written ? 0 : kExitFailure;
}

void SetupConvert(CLI::App& app, const GlobalOptions& global, int& exitCode) {
    auto options = std::make_shared<ConvertOptions>();
    CLI::App* command = app.add_subcommand(
        "convert", "Run one raw 8-bit PGM frame through the colour pipeline into PNG or BGRA");
    command->add_option("input", options->input, "Raw frame, binary PGM, 1360 x 1024")->required();
    command
        ->add_option("output", options->output,
                     "OUT.png (the picture as a capture writes it) or OUT.bgra (the client's "
                     "frame, bottom-up)")
        ->required();
    command->add_option("--roi", options->roi, "Region of interest X,Y,W,H (else the saved one)");
    command
        ->add_option("--set", options->overrides,
                     "Override a setting by property name, e.g. --set Hue=90 (repeatable)")
        ->type_name("NAME=VALUE");
    command->callback([&global, options, &exitCode] { exitCode = RunConvert(global, *options); });
}

}  // namespace

BAYERCAM_COMMAND(convert, SetupConvert);

}  // namespace bayercam::tool
