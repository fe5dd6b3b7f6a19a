// bayercam convert IN.pgm OUT.(png|bgra) [--set NAME=VALUE ...]: one raw frame through the
// processing a live capture applies, from the stream's settings plus overrides.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/camera_device.h"
#include "imaging/image_processor.h"
#include "imaging/pgm.h"
#include "platform/pool.h"
#include "tools/command.h"
#include "tools/png_writer.h"

namespace bayercam::tool {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// An image setting that --set may override, with the clamp the property set applies to it.
struct Setting {
    const char* name;
    AtomicInt32 CameraDevice::*field;
    bool clamped;
    int32_t min;
    int32_t max;
};

constexpr Setting kSettings[] = {
    {"ColorEnable", &CameraDevice::colorEnable, false, 0, 0},
    {"WhiteBalance", &CameraDevice::whiteBalance, false, 0, 0},
    {"RedGain", &CameraDevice::redGain, true, 1, 512},
    {"GreenGain", &CameraDevice::greenGain, true, 1, 512},
    {"BlueGain", &CameraDevice::blueGain, true, 1, 512},
    {"Brightness", &CameraDevice::brightness, true, 0, 510},
    {"Contrast", &CameraDevice::contrast, true, 0, 20},
    {"Saturation", &CameraDevice::saturation, true, 0, 20},
    {"Hue", &CameraDevice::hue, true, 0, 359},
    {"ColorCorrection", &CameraDevice::colorCorrection, false, 0, 0},
};

bool SameName(const std::string& a, const char* b) {
    return a.size() == std::strlen(b) && std::equal(a.begin(), a.end(), b, [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

struct Override {
    const Setting* setting;
    int32_t value;
};

// NAME=VALUE with a known name and a 32-bit decimal value.
bool ParseOverride(const std::string& text, Override* out, std::string* error) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos) {
        *error = "--set " + text + ": expected NAME=VALUE";
        return false;
    }
    const std::string name = text.substr(0, equals);
    const std::string value = text.substr(equals + 1);
    const Setting* setting = nullptr;
    for (const Setting& s : kSettings) {
        if (SameName(name, s.name)) setting = &s;
    }
    if (!setting) {
        *error = "--set " + text + ": unknown setting '" + name + "'";
        return false;
    }
    int32_t parsed = 0;
    const auto [end, status] = std::from_chars(value.data(), value.data() + value.size(), parsed);
    if (value.empty() || status != std::errc() || end != value.data() + value.size()) {
        *error = "--set " + text + ": value is not a 32-bit integer";
        return false;
    }
    *out = {setting, parsed};
    return true;
}

// The settings a stream starts from: for now those of a freshly initialised camera. Saved
// settings are loaded here once the settings store exists.
void LoadStartingSettings(CameraDevice* device) {
    device->pipelineMode = 2;
    device->colorEnable = 1;
    device->whiteBalance = 0;
    device->redGain = 128;
    device->greenGain = 128;
    device->blueGain = 128;
    device->colorCorrection = 1;
    device->brightness = 255;
    device->contrast = 10;
    device->saturation = 10;
    device->hue = 0;
    device->flipH = 0;
    device->flipV = 0;
    device->roiX = 0;
    device->roiY = 0;
    device->roiW = kSensorWidth;
    device->roiH = kSensorHeight;
    device->outputWidth = kSensorWidth & ~7;
    device->outputHeight = kSensorHeight;
}

void ApplyOverride(CameraDevice* device, const Override& o) {
    const Setting& s = *o.setting;
    (device->*s.field) = s.clamped ? std::clamp(o.value, s.min, s.max) : o.value;
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

int RunConvert(const ConvertOptions& options) {
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
            std::fprintf(stderr, "bayercam convert: %s\n", error.c_str());
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
    LoadStartingSettings(device);
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

void SetupConvert(CLI::App& app, const GlobalOptions&, int& exitCode) {
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
    command->callback([options, &exitCode] { exitCode = RunConvert(*options); });
}

}  // namespace

BAYERCAM_COMMAND(convert, SetupConvert);

}  // namespace bayercam::tool
