// The two frame converters and the padded work copy they share. On a worker pool a colour frame
// is converted in horizontal bands that the threads take as they come: every band is padded,
// then (with white balance on) measured, the gains set from the bands' sums, then converted.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/bayer_kernels.h"
#include "imaging/image_processor.h"
#include "imaging/worker_pool.h"

namespace bayercam {
namespace {

// Frames narrower or lower than this get no border: it stays as allocated (zeros).
constexpr uint32_t kMinPaddedSize = 8;

// The work buffer exists and matches the geometry: a frame size set without reallocating the
// buffer would make the copy overrun it, so such a frame is skipped like a missing buffer.
bool WorkBufferReady(const ImageProcessor* processor) {
    return processor->workBuffer && processor->frameWidth == processor->width &&
           processor->frameHeight == processor->height &&
           processor->rowPitch == static_cast<int32_t>(processor->workStride);
}

// Work pixel row y of the padded copy.
uint8_t* WorkRow(const ImageProcessor* processor, int64_t y) {
    return processor->pixelOrigin + y * static_cast<ptrdiff_t>(processor->workStride);
}

// Raw rows first .. end - 1 into the work buffer, with the border that belongs to them: each
// row's columns mirror about its edge columns, and the band at the top or the bottom also fills
// the border rows. The top rows mirror about row 0; the bottom rows repeat rows height - 4 and
// height - 3, which keeps the Bayer phase of every row. Every byte comes from the raw frame, so
// bands can be padded at once.
void PadRows(ImageProcessor* processor, const uint8_t* raw, uint32_t offset, uint32_t step,
             uint32_t first, uint32_t end) {
    const uint32_t width = processor->width;
    const uint32_t height = processor->height;
    const bool bordered = width >= kMinPaddedSize && height >= kMinPaddedSize;
    auto pad = [&](int64_t y, uint32_t rawRow) {
        uint8_t* line = WorkRow(processor, y);
        std::memcpy(line, raw + offset + size_t{rawRow} * step, width);
        if (!bordered) return;
        line[-1] = line[1];
        line[-2] = line[2];
        line[width] = line[width - 2];
        line[width + 1] = line[width - 3];
    };
    for (uint32_t y = first; y < end; ++y) pad(y, y);
    if (!bordered) return;
    if (first == 0) {
        pad(-2, 2);
        pad(-1, 1);
    }
    if (end == height) {
        pad(height, height - 4);
        pad(int64_t{height} + 1, height - 3);
    }
}

// More bands than threads, so that a thread that starts late takes fewer of them; few enough
// that each stays worth a hand-over.
constexpr uint32_t kMostBands = 32;

// One colour frame on its way through the bands.
struct ColorFrameJob {
    const BayerKernelSet& kernels;
    ImageProcessor* processor;
    const uint8_t* raw;
    uint32_t offset;
    uint32_t step;
    BayerPhase phase;
    bool color;
    ImageDestination image;
    uint32_t bands;
    ChannelSums sums[kMostBands] = {};

    uint32_t First(uint32_t band) const {
        return static_cast<uint32_t>(uint64_t{processor->height} * band / bands);
    }

    static void Pad(void* context, uint32_t band) {
        auto& job = *static_cast<ColorFrameJob*>(context);
        PadRows(job.processor, job.raw, job.offset, job.step, job.First(band), job.First(band + 1));
    }
    static void Balance(void* context, uint32_t band) {
        auto& job = *static_cast<ColorFrameJob*>(context);
        job.sums[band] =
            job.kernels.balanceSums(job.processor, job.phase, job.First(band), job.First(band + 1));
    }
    static void Convert(void* context, uint32_t band) {
        auto& job = *static_cast<ColorFrameJob*>(context);
        const KernelRows rows{job.First(band), job.First(band + 1), job.image};
        if (job.color) {
            job.kernels.convertColorRows(job.processor, job.phase, rows);
        } else {
            job.kernels.convertLumaRows(job.processor, job.phase, rows);
        }
    }

    // Runs one step over every band, on the pool when there is more than one.
    void ForEachBand(WorkerPool::Task step) {
        if (bands == 1) return step(this, 0);
        processor->workers->Run(step, this, bands);
    }

    void Run(bool balance) {
        ForEachBand(Pad);
        if (balance) {
            ForEachBand(Balance);
            ChannelSums total{};
            for (uint32_t i = 0; i < bands; ++i) {
                total.red += sums[i].red;
                total.green += sums[i].green;
                total.blue += sums[i].blue;
            }
            SetFrameGainsFromSums(processor, total);
            processor->redGain.exchange(processor->frameRedGain);
            processor->greenGain.exchange(processor->frameGreenGain);
            processor->blueGain.exchange(processor->frameBlueGain);
        }
        ForEachBand(Convert);
    }
};

uint32_t BandCount(const ImageProcessor* processor) {
    if (!processor->workers || processor->workers->Threads() == 1) return 1;
    return std::min(processor->height, kMostBands);
}

// The output buffer as a destination: rows packed top to bottom.
ImageDestination OutputImage(const ImageProcessor* processor) {
    return {processor->outputBuffer, static_cast<ptrdiff_t>(processor->width) * 4, processor->width,
            processor->height, false};
}

bool Fits(const ImageProcessor* processor, const ImageDestination& image) {
    return image.rowZero && image.width <= processor->width && image.height == processor->height;
}

bool ConvertColorFrameWithInto(const BayerKernelSet& kernels, ImageProcessor* processor,
                               const uint8_t* raw, uint32_t offset, uint32_t step,
                               const ImageDestination& image) {
    if (!processor->outputBuffer || !raw || !WorkBufferReady(processor)) return false;
    if (!Fits(processor, image)) return false;
    processor->outputCursor = processor->outputBuffer;
    processor->frameRedGain = processor->redGain.load();
    processor->frameGreenGain = processor->greenGain.load();
    processor->frameBlueGain = processor->blueGain.load();
    const BayerPhase phase = PhaseFromPipelineMode(processor->pipelineMode.load());
    const bool balance = processor->whiteBalance.load() != 0;

    KeAcquireSpinLock(&processor->matrixLock);
    for (int k = 0; k < 16; ++k) {
        processor->matrixPositive[k] = processor->colorMatrix[k] > 0 ? 1 : 0;
        processor->frameMatrix[k] = processor->colorMatrix[k];
    }
    KeReleaseSpinLock(&processor->matrixLock);

    const bool color = processor->colorEnable.load() != 0;
    ColorFrameJob job{kernels, processor,           raw, offset, step, phase, color,
                      image,   BandCount(processor)};
    job.Run(balance);
    return true;
}

}  // namespace

KernelRows AllRows(const ImageProcessor* processor) {
    return {0,
            processor->frameHeight,
            {processor->outputCursor, static_cast<ptrdiff_t>(processor->frameWidth) * 4,
             processor->frameWidth, processor->frameHeight, false}};
}

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
    PadRows(processor, raw, offset, step, 0, processor->height);
}

void ConvertColorFrameWith(const BayerKernelSet& kernels, ImageProcessor* processor,
                           const uint8_t* raw, uint32_t offset, uint32_t step) {
    ConvertColorFrameWithInto(kernels, processor, raw, offset, step, OutputImage(processor));
}

void ConvertColorFrame(ImageProcessor* processor, const uint8_t* raw, uint32_t offset,
                       uint32_t step) {
    ConvertColorFrameWith(kVectorKernels, processor, raw, offset, step);
}

bool ConvertColorFrameInto(ImageProcessor* processor, const uint8_t* raw, uint32_t offset,
                           uint32_t step, const ImageDestination& destination) {
    return ConvertColorFrameWithInto(kVectorKernels, processor, raw, offset, step, destination);
}

bool ConvertGrayFrameInto(ImageProcessor* processor, const uint8_t* raw, uint32_t offset,
                          uint32_t step, const ImageDestination& image) {
    if (!processor->outputBuffer || !raw || !processor->workBuffer) return false;
    if (!Fits(processor, image)) return false;
    for (uint32_t y = 0; y < processor->height; ++y) {
        const uint8_t* source = raw + offset + size_t{y} * step;
        uint8_t* row = image.rowZero + static_cast<ptrdiff_t>(y) * image.pitch;
        if (!image.mirror) {
            ExpandBytesToBgra(source, row, image.width);
            continue;
        }
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint32_t pixel = 0xFF000000u | source[x] * 0x010101u;
            std::memcpy(row + size_t{image.width - 1 - x} * 4, &pixel, 4);
        }
    }
    return true;
}

void ConvertGrayFrame(ImageProcessor* processor, const uint8_t* raw, uint32_t offset,
                      uint32_t step) {
    ConvertGrayFrameInto(processor, raw, offset, step, OutputImage(processor));
}

}  // namespace bayercam
