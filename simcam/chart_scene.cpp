#include "simcam/chart_scene.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace bayercam::sim {
namespace {

using Light = std::array<double, 3>;  // linear red, green and blue

struct Rgb {
    uint8_t r, g, b;
};

// The classic 24-patch colour chart in 8-bit sRGB, four rows of six.
constexpr Rgb kPatches[24] = {
    {115, 82, 68},   {194, 150, 130}, {98, 122, 157}, {87, 108, 67},   {133, 128, 177},
    {103, 189, 170}, {214, 126, 44},  {80, 91, 166},  {193, 90, 99},   {94, 60, 108},
    {157, 188, 64},  {224, 163, 46},  {56, 61, 150},  {70, 148, 73},   {175, 54, 60},
    {231, 199, 31},  {187, 86, 149},  {8, 133, 161},  {243, 243, 242}, {200, 200, 200},
    {160, 160, 160}, {122, 122, 121}, {85, 85, 85},   {52, 52, 52},
};

constexpr uint32_t kPatchSize = 200;
constexpr uint32_t kPatchGap = 20;
constexpr uint32_t kChartLeft = (kFrameWidth - 6 * kPatchSize - 5 * kPatchGap) / 2;
constexpr uint32_t kChartTop = 40;
constexpr double kBackground = 0.05;  // linear light between the patches
// Signal of a white site of unit sensitivity at the reference exposure, below clipping.
constexpr double kSignalScale = 235.0;
constexpr uint32_t kMarkerSpeedX = 11;  // pixels per frame
constexpr uint32_t kMarkerSpeedY = 7;

double Linear(uint8_t srgb) {
    double c = srgb / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// 0 red, 1 and 2 green, 3 blue: the RGGB site of a pixel.
int Site(uint32_t x, uint32_t y) {
    return static_cast<int>((y & 1) * 2 + (x & 1));
}

double Sensitivity(int site) {
    return site == 0 ? kRedSensitivity : site == 3 ? kBlueSensitivity : kGreenSensitivity;
}

double Channel(const Light& rgb, int site) {
    return site == 0 ? rgb[0] : site == 3 ? rgb[2] : rgb[1];
}

// Linear red, green and blue light at a pixel of the still chart.
Light ChartLight(const std::array<Light, 24>& patches, uint32_t x, uint32_t y) {
    if (y >= kRampTop && y < kRampBottom) {
        double level = static_cast<double>(x) / (kFrameWidth - 1);
        return {level, level, level};
    }
    if (x >= kChartLeft && y >= kChartTop) {
        uint32_t column = (x - kChartLeft) / (kPatchSize + kPatchGap);
        uint32_t row = (y - kChartTop) / (kPatchSize + kPatchGap);
        bool inPatch = (x - kChartLeft) % (kPatchSize + kPatchGap) < kPatchSize &&
                       (y - kChartTop) % (kPatchSize + kPatchGap) < kPatchSize;
        if (column < 6 && row < 4 && inPatch) return patches[row * 6 + column];
    }
    return {kBackground, kBackground, kBackground};
}

uint8_t Signal(double light, int site, int grain) {
    double signal = std::round(light * Sensitivity(site) * kSignalScale) + grain;
    return static_cast<uint8_t>(std::clamp(signal, 0.0, 255.0));
}

// Position along a path that bounces between 0 and `range`.
uint32_t Bounce(uint64_t travelled, uint32_t range) {
    uint64_t phase = travelled % (2 * uint64_t{range});
    return static_cast<uint32_t>(phase < range ? phase : 2 * range - phase);
}

}  // namespace

ChartScene::ChartScene(uint64_t seed) : mosaic_(kFrameBytes) {
    std::array<Light, 24> patches;
    for (size_t i = 0; i < patches.size(); ++i) {
        patches[i] = {Linear(kPatches[i].r), Linear(kPatches[i].g), Linear(kPatches[i].b)};
    }
    std::mt19937_64 random(seed);
    for (uint32_t y = 0; y < kFrameHeight; ++y) {
        for (uint32_t x = 0; x < kFrameWidth; ++x) {
            int site = Site(x, y);
            // A grain of -1, 0 or +1 keeps flat patches from being perfectly flat.
            int grain = static_cast<int>(random() % 3) - 1;
            mosaic_[y * kFrameWidth + x] =
                Signal(Channel(ChartLight(patches, x, y), site), site, grain);
        }
    }
    for (int site = 0; site < 4; ++site) markerSignal_[site] = Signal(1.0, site, 0);
    markerStartX_ = random();
    markerStartY_ = random();
}

void ChartScene::Render(const SensorSettings& sensor, uint64_t frame, uint8_t* out) {
    const ResponseLut lut = BuildResponseLut(sensor);
    if (seenResponse_ != lut) {
        seen_.resize(kFrameBytes);
        for (uint32_t i = 0; i < kFrameBytes; ++i) seen_[i] = lut[mosaic_[i]];
        seenResponse_ = lut;
    }
    std::copy(seen_.begin(), seen_.end(), out);

    // The marker: a bright disc that bounces around the frame.
    uint32_t left = Bounce(markerStartX_ + frame * kMarkerSpeedX, kFrameWidth - kMarkerSize);
    uint32_t top = Bounce(markerStartY_ + frame * kMarkerSpeedY, kFrameHeight - kMarkerSize);
    constexpr double kRadius = kMarkerSize / 2.0;
    for (uint32_t dy = 0; dy < kMarkerSize; ++dy) {
        for (uint32_t dx = 0; dx < kMarkerSize; ++dx) {
            double ox = dx + 0.5 - kRadius;
            double oy = dy + 0.5 - kRadius;
            if (ox * ox + oy * oy > kRadius * kRadius) continue;
            uint32_t x = left + dx;
            uint32_t y = top + dy;
            out[y * kFrameWidth + x] = lut[markerSignal_[Site(x, y)]];
        }
    }
}

}  // namespace bayercam::sim
