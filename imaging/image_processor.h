// The per-stream image processor: colour switches, gains, the folded colour matrix and the frame
// geometry that the conversion kernels read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/kernel/sync.h"

namespace bayercam {

struct CameraDevice;
class WorkerPool;
enum class Control : size_t;

// A 4 x 4 matrix, row-major. A pixel is the row vector (R, G, B, 1): output channel k is
// R * m[0][k] + G * m[1][k] + B * m[2][k] + m[3][k]; column 3 is never used for output.
struct Matrix4 {
    double m[4][4];
};

struct ImageProcessor {
    // Copies for the kernels, refreshed with the geometry or once per frame.
    uint8_t* pixelOrigin;   // work pixel (0, 0) inside workBuffer
    uint8_t* outputCursor;  // destination of the conversion in progress
    int32_t rowPitch;
    int32_t frameRedGain;
    int32_t frameGreenGain;
    int32_t frameBlueGain;
    uint32_t frameWidth;
    uint32_t frameHeight;
    int32_t frameMatrix[16];

    uint32_t width;
    uint32_t height;
    uint32_t workStride;
    uint32_t workBytes;
    uint8_t* outputBuffer;  // owned by the capture record, only referenced here
    uint8_t* workBuffer;    // padded 8-bit copy of the region of interest, owned here
    WorkerPool* workers;    // converts a frame in stripes; borrowed, null: on the caller alone

    // Settings changed by property requests while the conversion reads them.
    std::atomic<int32_t> pipelineMode;
    std::atomic<int32_t> colorEnable;
    std::atomic<int32_t> whiteBalance;
    std::atomic<int32_t> redGain;  // 1/128 units, 128 is unity
    std::atomic<int32_t> greenGain;
    std::atomic<int32_t> blueGain;
    std::atomic<int32_t> colorCorrection;
    std::atomic<int32_t> brightness;  // 0..510, 255 neutral
    std::atomic<int32_t> contrast;    // 0..20, 10 neutral
    std::atomic<int32_t> saturation;  // 0..20, 10 neutral
    std::atomic<int32_t> hue;         // degrees, 0 neutral

    Matrix4 identityMatrix;
    Matrix4 correctionMatrix;
    Matrix4 brightnessMatrix;
    Matrix4 contrastMatrix;
    Matrix4 saturationMatrix;
    Matrix4 hueMatrix;
    Matrix4 combinedMatrix;
    int32_t colorMatrix[16];  // combinedMatrix in 1/64 units; written under matrixLock
    uint8_t matrixPositive[16];

    // Guards colorMatrix: held only for its 16 stores or the per-frame copy of its 16 values.
    KSPIN_LOCK matrixLock;
};

// Creates the processor with its defaults, then applies the device's settings. Null when the
// allocation fails.
ImageProcessor* CreateImageProcessor(CameraDevice* device);
// The processor's copy of a control that the image processor holds (ControlTarget::ImageProcessor);
// null for any other control.
std::atomic<int32_t>* ProcessorSetting(ImageProcessor* processor, Control control);
// Frees the processor and its work buffer (not outputBuffer, which it does not own).
void FreeImageProcessor(ImageProcessor* processor);

void InitImageProcessor(ImageProcessor* processor);

void SetPipelineMode(ImageProcessor* processor, int32_t value);
void SetColorEnable(ImageProcessor* processor, int32_t value);
void SetAutoWhiteBalance(ImageProcessor* processor, int32_t value);
void SetRedGain(ImageProcessor* processor, int32_t value);
void SetGreenGain(ImageProcessor* processor, int32_t value);
void SetBlueGain(ImageProcessor* processor, int32_t value);

// Each stores the value and rebuilds its matrix only when the value differs from the current one.
void UpdateColorCorrection(ImageProcessor* processor, int32_t value);
void UpdateBrightness(ImageProcessor* processor, int32_t value);
void UpdateContrast(ImageProcessor* processor, int32_t value);
void UpdateSaturation(ImageProcessor* processor, int32_t value);
void UpdateHue(ImageProcessor* processor, int32_t value);

// Each rebuilds one matrix from the value, then recombines. They do not store the value.
void BuildCorrectionMatrix(ImageProcessor* processor, int32_t value);
void BuildBrightnessMatrix(ImageProcessor* processor, int32_t value);
void BuildContrastMatrix(ImageProcessor* processor, int32_t value);
void BuildSaturationMatrix(ImageProcessor* processor, int32_t value);
void BuildHueMatrix(ImageProcessor* processor, int32_t value);
void CombineMatrices(ImageProcessor* processor);

// Sets width, height, workStride and workBytes. A size whose work buffer would not fit 32 bits
// gets workStride and workBytes 0, so that AllocateWorkBuffer allocates nothing.
void SetFrameSize(ImageProcessor* processor, uint32_t width, uint32_t height);
// (Re)allocates workBuffer and publishes the kernel copies of the geometry. On failure
// workBuffer stays null and conversions do nothing.
void AllocateWorkBuffer(ImageProcessor* processor);

// Where a converted image goes instead of outputBuffer: row y at rowZero + y * pitch (negative:
// bottom-up), its left `width` pixels, mirrored (pixel x at column width - 1 - x) when asked.
// It must hold every row of the frame: `height` is checked against it.
struct ImageDestination {
    uint8_t* rowZero;
    ptrdiff_t pitch;
    uint32_t width;
    uint32_t height;
    bool mirror;
};

// Frame conversion of `width` x `height` raw pixels starting at raw + offset, rows `step` bytes
// apart, into outputBuffer. Both do nothing when outputBuffer, raw or workBuffer is null.
void ConvertColorFrame(ImageProcessor* processor, const uint8_t* raw, uint32_t offset,
                       uint32_t step);
void ConvertGrayFrame(ImageProcessor* processor, const uint8_t* raw, uint32_t offset,
                      uint32_t step);
// As ConvertColorFrame and ConvertGrayFrame, into `destination`. False, with nothing written,
// when the conversion cannot run or the destination does not fit the frame (its width above the
// frame's, its height not the frame's).
bool ConvertColorFrameInto(ImageProcessor* processor, const uint8_t* raw, uint32_t offset,
                           uint32_t step, const ImageDestination& destination);
bool ConvertGrayFrameInto(ImageProcessor* processor, const uint8_t* raw, uint32_t offset,
                          uint32_t step, const ImageDestination& destination);
// Copies the raw frame into the work buffer and fills its border; part of ConvertColorFrame.
void PadRawFrame(ImageProcessor* processor, const uint8_t* raw, uint32_t offset, uint32_t step);

}  // namespace bayercam
