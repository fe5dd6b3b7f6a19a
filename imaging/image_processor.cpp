// Creation, settings and geometry of the image processor.
#include "imaging/image_processor.h"

#include <cstdint>

#include "core/camera_device.h"
#include "core/control_table.h"
#include "imaging/bayer_kernels.h"
#include "platform/kernel/pool.h"

namespace bayercam {
namespace {

// Store-and-rebuild rule shared by the Update operations: compare with an interlocked read,
// store with an atomic exchange, rebuild only on a change.
void UpdateSetting(ImageProcessor* processor, std::atomic<int32_t>& setting, int32_t value,
                   void (*build)(ImageProcessor*, int32_t)) {
    if (setting.load() == value) return;
    setting.exchange(value);
    build(processor, value);
}

// Lines of the work buffer: the image rows rounded up to even, 2 border lines above and below.
constexpr uint64_t kWorkMarginLines = 4;
// Bytes of a work line beyond the image width rounded down to 16: 3 spare bytes, 2 + 2 border
// columns and 20 spare bytes for the kernels' last 16-pixel block.
constexpr uint64_t kWorkLineExtra = 27;
// Offset of image column 0 inside a work line.
constexpr uint32_t kWorkColumnOrigin = 5;
constexpr uint32_t kWorkRowOrigin = 2;

}  // namespace

ImageProcessor* CreateImageProcessor(CameraDevice* device) {
    ImageProcessor* processor = PoolNew<ImageProcessor>();
    if (!processor) return nullptr;
    KeInitializeSpinLock(&processor->matrixLock);

    processor->width = 0;
    processor->height = 0;
    processor->workStride = 0;
    processor->workBytes = 0;
    processor->outputBuffer = nullptr;
    processor->workBuffer = nullptr;
    processor->workers = nullptr;
    processor->pipelineMode = 0;
    // The defaults are the neutral settings, so a matrix is rebuilt below only for a setting
    // that differs from its default.
    for (const ControlInfo& info : kControls) {
        if (std::atomic<int32_t>* setting = ProcessorSetting(processor, info.control))
            setting->store(info.defaultValue);
    }

    InitImageProcessor(processor);

    SetAutoWhiteBalance(processor, device->whiteBalance.load());
    SetPipelineMode(processor, device->pipelineMode.load());
    SetColorEnable(processor, device->colorEnable.load());
    SetRedGain(processor, device->redGain.load());
    SetGreenGain(processor, device->greenGain.load());
    SetBlueGain(processor, device->blueGain.load());
    UpdateColorCorrection(processor, device->colorCorrection.load());
    UpdateBrightness(processor, device->brightness.load());
    UpdateContrast(processor, device->contrast.load());
    UpdateSaturation(processor, device->saturation.load());
    UpdateHue(processor, device->hue.load());
    return processor;
}

std::atomic<int32_t>* ProcessorSetting(ImageProcessor* processor, Control control) {
    switch (control) {
        case Control::ColorEnable:
            return &processor->colorEnable;
        case Control::WhiteBalance:
            return &processor->whiteBalance;
        case Control::ColorCorrection:
            return &processor->colorCorrection;
        case Control::Brightness:
            return &processor->brightness;
        case Control::Contrast:
            return &processor->contrast;
        case Control::Saturation:
            return &processor->saturation;
        case Control::Hue:
            return &processor->hue;
        case Control::RedGain:
            return &processor->redGain;
        case Control::GreenGain:
            return &processor->greenGain;
        case Control::BlueGain:
            return &processor->blueGain;
        default:
            return nullptr;
    }
}

void FreeImageProcessor(ImageProcessor* processor) {
    if (!processor) return;
    ExFreePool(processor->workBuffer);
    PoolDelete(processor);
}

void SetPipelineMode(ImageProcessor* processor, int32_t value) {
    processor->pipelineMode.exchange(value);
}
void SetColorEnable(ImageProcessor* processor, int32_t value) {
    processor->colorEnable.exchange(value);
}
void SetAutoWhiteBalance(ImageProcessor* processor, int32_t value) {
    processor->whiteBalance.exchange(value);
}
void SetRedGain(ImageProcessor* processor, int32_t value) {
    processor->redGain.exchange(value);
}
void SetGreenGain(ImageProcessor* processor, int32_t value) {
    processor->greenGain.exchange(value);
}
void SetBlueGain(ImageProcessor* processor, int32_t value) {
    processor->blueGain.exchange(value);
}

void UpdateColorCorrection(ImageProcessor* processor, int32_t value) {
    UpdateSetting(processor, processor->colorCorrection, value, BuildCorrectionMatrix);
}
void UpdateBrightness(ImageProcessor* processor, int32_t value) {
    UpdateSetting(processor, processor->brightness, value, BuildBrightnessMatrix);
}
void UpdateContrast(ImageProcessor* processor, int32_t value) {
    UpdateSetting(processor, processor->contrast, value, BuildContrastMatrix);
}
void UpdateSaturation(ImageProcessor* processor, int32_t value) {
    UpdateSetting(processor, processor->saturation, value, BuildSaturationMatrix);
}
void UpdateHue(ImageProcessor* processor, int32_t value) {
    UpdateSetting(processor, processor->hue, value, BuildHueMatrix);
}

void SetFrameSize(ImageProcessor* processor, uint32_t width, uint32_t height) {
    processor->height = height;
    processor->width = width;
    // Computed wide: a size whose buffer does not fit 32 bits gets no buffer at all rather
    // than a wrapped, too small one.
    const uint64_t stride = (uint64_t{width} & ~uint64_t{15}) + kWorkLineExtra;
    const uint64_t lines = uint64_t{height} + (height & 1u) + kWorkMarginLines;
    const uint64_t bytes = lines * stride;
    if (bytes > UINT32_MAX) {
        processor->workStride = 0;
        processor->workBytes = 0;
        return;
    }
    processor->workStride = static_cast<uint32_t>(stride);
    processor->workBytes = static_cast<uint32_t>(bytes);
}

void AllocateWorkBuffer(ImageProcessor* processor) {
    if (processor->workBuffer) {
        ExFreePool(processor->workBuffer);
        processor->workBuffer = nullptr;
    }
    if (processor->workBytes != 0) {
        processor->workBuffer = static_cast<uint8_t*>(
            ExAllocatePoolZero(size_t{processor->workBytes} + kWorkReadSlack));
    }
    processor->rowPitch = static_cast<int32_t>(processor->workStride);
    processor->pixelOrigin =
        processor->workBuffer
            ? processor->workBuffer + kWorkRowOrigin * processor->workStride + kWorkColumnOrigin
            : nullptr;
    processor->frameWidth = processor->width;
    processor->frameHeight = processor->height;
}

}  // namespace bayercam
