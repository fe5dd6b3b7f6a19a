// The two frame converters and the padded work copy they share.
#include <cstdint>
#include <cstring>

#include "imaging/bayer_kernels.h"
#include "imaging/image_processor.h"

namespace bayercam {
namespace {

// Below this size the mirrored border has no source rows or columns; it is left as allocated
// (zeros).
constexpr uint32_t kMinPaddedSize = 8;

// The work buffer exists and matches the geometry: a frame size set without reallocating the
// buffer would make the copy overrun it, so such a frame is skipped like a missing buffer.
bool WorkBufferReady(const ImageProcessor* processor) {
    return processor->workBuffer && processor->frameWidth == processor->width &&
           processor->frameHeight == processor->height &&
           processor->rowPitch == static_cast<int32_t>(processor->workStride);
}

}  // namespace

BayerPhase PhaseFromPipelineMode(int32_t mode) {
    switch (mode) {
        case 0:
            return BayerPhase::GRBG;
        case 1:
            return BayerPhase::BGGR;
        case 2:
            return BayerPhase::RGGB;
        default:
            return BayerPhase::GBRG;
    }
}

void PadRawFrame(ImageProcessor* processor, const uint8_t* raw, uint32_t offset, uint32_t step) {
    const uint32_t width = processor->width;
    const uint32_t height = processor->height;
    const size_t stride = processor->workStride;
    uint8_t* origin = processor->pixelOrigin;
    auto row = [&](int64_t y) { return origin + y * static_cast<ptrdiff_t>(stride); };

    for (uint32_t y = 0; y < height; ++y) {
        std::memcpy(row(y), raw + offset + size_t{y} * step, width);
    }
    if (width < kMinPaddedSize || height < kMinPaddedSize) return;

    // Top rows mirror about row 0; the bottom rows repeat rows height - 4 and height - 3, which
    // keeps the Bayer phase of every row.
    std::memcpy(row(-2), row(2), width);
    std::memcpy(row(-1), row(1), width);
    std::memcpy(row(height), row(height - 4), width);
    std::memcpy(row(int64_t{height} + 1), row(height - 3), width);

    // Columns mirror about the edge column, border rows included, which fills the corners.
    for (int64_t y = -2; y <= int64_t{height} + 1; ++y) {
        uint8_t* line = row(y);
        line[-1] = line[1];
        line[-2] = line[2];
        line[width] = line[width - 2];
        line[width + 1] = line[width - 3];
    }
}

void ConvertColorFrameWith(const BayerKernelSet& kernels, ImageProcessor* processor,
                           const uint8_t* raw, uint32_t offset, uint32_t step) {
    if (!processor->outputBuffer || !raw || !WorkBufferReady(processor)) return;
    PadRawFrame(processor, raw, offset, step);
    processor->outputCursor = processor->outputBuffer;
    processor->frameRedGain = processor->redGain.load();
    processor->frameGreenGain = processor->greenGain.load();
    processor->frameBlueGain = processor->blueGain.load();

    const BayerPhase phase = PhaseFromPipelineMode(processor->pipelineMode.load());
    if (processor->whiteBalance.load() != 0) {
        kernels.computeWhiteBalance(processor, phase);
        processor->redGain.exchange(processor->frameRedGain);
        processor->greenGain.exchange(processor->frameGreenGain);
        processor->blueGain.exchange(processor->frameBlueGain);
    }

    KeAcquireSpinLock(&processor->matrixLock);
    for (int k = 0; k < 16; ++k) {
        processor->matrixPositive[k] = processor->colorMatrix[k] > 0 ? 1 : 0;
        processor->frameMatrix[k] = processor->colorMatrix[k];
    }
    KeReleaseSpinLock(&processor->matrixLock);

    if (processor->colorEnable.load() != 0) {
        kernels.convertColor(processor, phase);
    } else {
        kernels.convertLuma(processor, phase);
    }
}

void ConvertColorFrame(ImageProcessor* processor, const uint8_t* raw, uint32_t offset,
                       uint32_t step) {
    ConvertColorFrameWith(kVectorKernels, processor, raw, offset, step);
}

void ConvertGrayFrame(ImageProcessor* processor, const uint8_t* raw, uint32_t offset,
                      uint32_t step) {
    if (!processor->outputBuffer || !raw || !processor->workBuffer) return;
    const uint32_t width = processor->width;
    for (uint32_t y = 0; y < processor->height; ++y) {
        ExpandBytesToBgra(raw + offset + size_t{y} * step,
                          processor->outputBuffer + size_t{y} * width * 4, width);
    }
}

}  // namespace bayercam
