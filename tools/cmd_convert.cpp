// bayercam convert IN.pgm OUT.(png|bgra) [--set NAME=VALUE ...]: one raw frame through the
// processing a live capture applies, from the camera's saved settings plus overrides.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/camera_device.h"
#include "imaging/image_processor.h"
#include "imaging/pgm.h"
#include "platform/pool.h"
#include "platform/registry.h"
#include "props/image_settings.h"
#include "settings/settings_store.h"
#include "tools/command.h"
#include "tools/control_properties.h"
#include "tools/device_session.h"
#include "tools/png_writer.h"

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
void LoadStartingSettings(const GlobalOptions& global, CameraDevice* device) {
    UseSettingsDir(global);
    DEVICE_OBJECT instance{};
    SettingArray values = DefaultSettings();
    if (NT_SUCCESS(RegistryRegisterDevice(&instance, SettingsInstanceId(global)))) {
        ReadSavedSettings(&instance, &values);
        RegistryUnregisterDevice(&instance);
    }
    device->defaultPipelineMode = 2;
    RefreshPipelineMode(device);
    ApplyStreamSettings(device, values);
}

void ApplyOverride(CameraDevice* device, const Override& o) {
    if (o.setting)
        StoreImageSetting(device, *o.setting, o.value);
    else
        (device->*o.flip).store(o.value);
}

// The client's frame: bottom-up rows unless flipped vertically, mirrored when flipped
// horizontally, outputWidth pixels of each region row.
std::vector<uint8_t> ClientFrame(const CameraDevice* device, const uint8_t* image) {
    const int32_t width = device->outputWidth;
    const int32_t rows = device->outputHeight;
    const int32_t sourcePitch = device->roiW * 4;
    std::vector<uint8_t> frame(static_cast<size_t>(width) * rows * 4);
    for (int32_t row = 0; row < rows; ++row) {
        const int32_t sourceRow = device->flipV != 0 ? row : device->roiH - 1 - row;
        const uint8_t* source = image + static_cast<size_t>(sourceRow) * sourcePitch;
        uint8_t* destination = frame.data() + static_cast<size_t>(row) * width * 4;
        for (int32_t i = 0; i < width; ++i) {
            const int32_t from = device->flipH != 0 ? width - 1 - i : i;
            std::memcpy(destination + 4 * i, source + 4 * from, 4);
        }
    }
    return frame;
}

// As a stream opens and starts: the processor from the device's settings, sized for the region
// of interest, then the conversion the capture path chooses by the colour switch. False when
// memory runs out.
bool ConvertFrame(CameraDevice* device, const PgmImage& raw, std::vector<uint8_t>* image) {
    ImageProcessor* processor = CreateImageProcessor(device);
    if (!processor) return false;
    const auto width = static_cast<uint32_t>(device->roiW.load());
    const auto height = static_cast<uint32_t>(device->roiH.load());
    SetFrameSize(processor, width, height);
    AllocateWorkBuffer(processor);
    const bool ready = processor->workBuffer != nullptr;
    if (ready) {
        image->assign(size_t{width} * height * 4, 0);
        processor->outputBuffer = image->data();
        const uint32_t step = raw.width;
        const uint32_t offset = device->roiY * step + device->roiX;
        if (processor->colorEnable.load() == 1) {
            ConvertColorFrame(processor, raw.pixels.data(), offset, step);
        } else {
            ConvertGrayFrame(processor, raw.pixels.data(), offset, step);
        }
    }
    FreeImageProcessor(processor);
    return ready;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        *error = "cannot create: " + std::string(std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        *error = "write failed";
        return false;
    }
    return true;
}

bool EndsWith(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return text.size() >= n && SameName(text.substr(text.size() - n), suffix);
}

struct ConvertOptions {
    std::string input;
    std::string output;
    std::vector<std::string> overrides;
};

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
    if (!ReadPgmFile(options.input, &raw, &error)) {
        std::fprintf(stderr, "bayercam convert: %s: %s\n", options.input.c_str(), error.c_str());
        return kExitFailure;
    }
    if (raw.width != static_cast<uint32_t>(kSensorWidth) ||
        raw.height != static_cast<uint32_t>(kSensorHeight)) {
        std::fprintf(stderr, "bayercam convert: %s: frame is %ux%u, expected %dx%d\n",
                     options.input.c_str(), raw.width, raw.height, kSensorWidth, kSensorHeight);
        return kExitFailure;
    }

    CameraDevice* device = PoolNew<CameraDevice>();
    if (!device) {
        std::fprintf(stderr, "bayercam convert: out of memory\n");
        return kExitFailure;
    }
    LoadStartingSettings(global, device);
    for (const Override& o : overrides) ApplyOverride(device, o);
    std::vector<uint8_t> image;
    const bool converted = ConvertFrame(device, raw, &image);
    bool written = false;
    if (!converted) {
        std::fprintf(stderr, "bayercam convert: out of memory\n");
    } else {
        written = png ? WritePngBgra(options.output, image.data(), device->outputWidth,
                                     device->outputHeight, device->roiW * 4, &error)
                      : WriteBytes(options.output, ClientFrame(device, image.data()), &error);
        if (!written) {
            std::fprintf(stderr, "bayercam convert: %s: %s\n", options.output.c_str(),
                         error.c_str());
        }
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
                     "OUT.png (upright image) or OUT.bgra (the client's frame, bottom-up)")
        ->required();
    command
        ->add_option("--set", options->overrides,
                     "Override a setting by property name, e.g. --set Hue=90 (repeatable)")
        ->type_name("NAME=VALUE");
    command->callback([&global, options, &exitCode] { exitCode = RunConvert(global, *options); });
}

}  // namespace

BAYERCAM_COMMAND(convert, SetupConvert);

}  // namespace bayercam::tool
