// The five colour matrices, their product and its fixed-point form for the kernels.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "imaging/fp_strict.h"
#include "imaging/image_processor.h"
#include "imaging/matrix4.h"

namespace bayercam {
namespace {

// Single-precision constants, widened to double where the arithmetic is double.
constexpr float kLumaRed = 0.3086f;
constexpr float kLumaGreen = 0.6094f;
constexpr float kLumaBlue = 0.0820f;
constexpr float kCorrection[3][3] = {
    {1.36f, -0.25f, -0.10f},
    {-0.22f, 1.40f, -0.32f},
    {-0.14f, -0.15f, 1.42f},
};
constexpr double kBrightnessNeutral = 255.0;
constexpr int32_t kBrightnessMax = 510;
constexpr int32_t kScaleMax = 20;  // contrast and saturation
constexpr float kScaleCentre = 10.0f;
constexpr float kScaleStep = 0.1f;
constexpr float kScaleUnit = 1.0f;
constexpr double kContrastPivot = 128.0;
constexpr float kPi = 3.1415927f;
constexpr float kHalfTurnDegrees = 180.0f;
constexpr double kFixedScale = 64.0;
constexpr double kFixedRounding = 0.5;

// Contrast and saturation factor: 0 at 0, 1 at 10, 2 at 20, computed in single precision.
double ScaleFactor(int32_t value) {
    const float k =
        (static_cast<float>(std::min(value, kScaleMax)) - kScaleCentre) * kScaleStep + kScaleUnit;
    return static_cast<double>(k);
}

// Rounds half away from zero. Values beyond int32 (only reachable with settings far below the
// ranges the callers clamp to) saturate instead of overflowing the conversion.
int32_t ToFixedPoint(double entry) {
    const double x = entry * kFixedScale;
    const double rounded = x >= 0.0 ? x + kFixedRounding : x - kFixedRounding;
    if (!(rounded > static_cast<double>(std::numeric_limits<int32_t>::min()) - 1.0)) {
        return std::numeric_limits<int32_t>::min();
    }
    if (!(rounded < static_cast<double>(std::numeric_limits<int32_t>::max()) + 1.0)) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(rounded);
}

}  // namespace

void InitImageProcessor(ImageProcessor* processor) {
    const Matrix4 identity = IdentityMatrix4();
    processor->identityMatrix = identity;
    processor->brightnessMatrix = identity;
    processor->contrastMatrix = identity;
    processor->saturationMatrix = identity;
    processor->hueMatrix = identity;
    processor->combinedMatrix = identity;
    BuildCorrectionMatrix(processor, 1);
}

void BuildCorrectionMatrix(ImageProcessor* processor, int32_t value) {
    Matrix4& m = processor->correctionMatrix;
    m = IdentityMatrix4();
    if (value != 0) {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) m.m[i][j] = static_cast<double>(kCorrection[i][j]);
        }
    }
    CombineMatrices(processor);
}

void BuildBrightnessMatrix(ImageProcessor* processor, int32_t value) {
    const double b = static_cast<double>(std::min(value, kBrightnessMax)) - kBrightnessNeutral;
    Matrix4& m = processor->brightnessMatrix;
    m = IdentityMatrix4();
    m.m[3][0] = b;
    m.m[3][1] = b;
    m.m[3][2] = b;
    CombineMatrices(processor);
}

void BuildContrastMatrix(ImageProcessor* processor, int32_t value) {
    const double k = ScaleFactor(value);
    const double o = k * -kContrastPivot + kContrastPivot;
    Matrix4& m = processor->contrastMatrix;
    m = IdentityMatrix4();
    for (int i = 0; i < 3; ++i) {
        m.m[i][i] = k;
        m.m[3][i] = o;
    }
    CombineMatrices(processor);
}

void BuildSaturationMatrix(ImageProcessor* processor, int32_t value) {
    const double s = ScaleFactor(value);
    const double t = 1.0 - s;
    const double weights[3] = {t * static_cast<double>(kLumaRed),
                               t * static_cast<double>(kLumaGreen),
                               t * static_cast<double>(kLumaBlue)};
    Matrix4& m = processor->saturationMatrix;
    m = IdentityMatrix4();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) m.m[i][j] = i == j ? weights[i] + s : weights[i];
    }
    CombineMatrices(processor);
}

// A rotation of the colour cube about its grey axis that keeps luminance: turn the grey axis
// onto z, shear so that luminance stays constant, rotate about z, and undo the first steps.
void BuildHueMatrix(ImageProcessor* processor, int32_t value) {
    Matrix4& m = processor->hueMatrix;
    m = IdentityMatrix4();

    const double xm = 1.0 / static_cast<double>(std::sqrt(2.0f));
    RotateX(&m, xm, xm);
    const double ys = -1.0 / static_cast<double>(std::sqrt(3.0f));
    const double yc = static_cast<double>(std::sqrt(2.0f)) / static_cast<double>(std::sqrt(3.0f));
    RotateY(&m, ys, yc);

    const double luma[4] = {static_cast<double>(kLumaRed), static_cast<double>(kLumaGreen),
                            static_cast<double>(kLumaBlue), 1.0};
    double l[3];
    for (int j = 0; j < 3; ++j) {
        double sum = 0.0;
        for (int n = 0; n < 4; ++n) sum += luma[n] * m.m[n][j];
        l[j] = sum;
    }
    const double zx = l[0] / l[2];
    const double zy = l[1] / l[2];
    ShearZ(&m, zx, zy);

    const float theta = (static_cast<float>(value) * kPi) / kHalfTurnDegrees;
    const double sn = static_cast<double>(std::sin(theta));
    const double cs = static_cast<double>(std::cos(theta));
    const Matrix4 rotateZ{{{cs, sn, 0, 0}, {-sn, cs, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    MultiplyMatrix(rotateZ, m, &m);

    ShearZ(&m, -zx, -zy);
    RotateY(&m, -ys, yc);
    RotateX(&m, -xm, xm);
    CombineMatrices(processor);
}

void CombineMatrices(ImageProcessor* processor) {
    Matrix4& combined = processor->combinedMatrix;
    MultiplyMatrix(processor->identityMatrix, processor->correctionMatrix, &combined);
    MultiplyMatrix(combined, processor->contrastMatrix, &combined);
    MultiplyMatrix(combined, processor->brightnessMatrix, &combined);
    MultiplyMatrix(combined, processor->saturationMatrix, &combined);
    MultiplyMatrix(combined, processor->hueMatrix, &combined);

    int32_t fixed[16];
    for (int k = 0; k < 16; ++k) fixed[k] = ToFixedPoint(combined.m[k / 4][k % 4]);
    KeAcquireSpinLock(&processor->matrixLock);
    std::copy(fixed, fixed + 16, processor->colorMatrix);
    KeReleaseSpinLock(&processor->matrixLock);
}

}  // namespace bayercam
