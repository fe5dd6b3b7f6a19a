// The two frame converters and the padded work copy they share. A colour frame is converted in
// horizontal stripes, one per worker of the processor's pool: every stripe pads its raw rows,
// then (once all are padded and the border is filled) measures its part of the white balance,
// then (once the gains are set from the stripes' sums) converts its rows.
#include <algorithm>
#include <barrier>
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

void PadRows(ImageProcessor* processor, const uint8_t* raw, uint32_t offset, uint32_t step,
             uint32_t first, uint32_t end) {
    for (uint32_t y = first; y < end; ++y) {
        std::memcpy(WorkRow(processor, y), raw + offset + size_t{y} * step, processor->width);
    }
}

void PadBorder(ImageProcessor* processor) {
    const uint32_t width = processor->width;
    const uint32_t height = processor->height;
    if (width < kMinPaddedSize || height < kMinPaddedSize) return;
    auto row = [&](int64_t y) { return WorkRow(processor, y); };

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

constexpr uint32_t kMostStripes = 8;

// One colour frame on its way through the stripes.
struct ColorFrameJob {
    const BayerKernelSet& kernels;
    ImageProcessor* processor;
    const uint8_t* raw;
    uint32_t offset;
    uint32_t step;
    BayerPhase phase;
    bool balance;
    bool color;
    ImageDestination image;
    uint32_t stripes;
    ChannelSums sums[kMostStripes] = {};
    bool padded = false;

    // Runs on one thread once every stripe has reached the barrier: first the border, then the
    // gains from the stripes' sums, added in stripe order.
    struct Joint {
        ColorFrameJob* job;
        void operator()() noexcept { job->BetweenSteps(); }
    };
    std::barrier<Joint> joint{stripes, Joint{this}};

    void BetweenSteps() {
        if (!padded) {
            padded = true;
            PadBorder(processor);
            return;
        }
        ChannelSums total{};
        for (uint32_t i = 0; i < stripes; ++i) {
            total.red += sums[i].red;
            total.green += sums[i].green;
            total.blue += sums[i].blue;
        }
        SetFrameGainsFromSums(processor, total);
        processor->redGain.exchange(processor->frameRedGain);
        processor->greenGain.exchange(processor->frameGreenGain);
        processor->blueGain.exchange(processor->frameBlueGain);
    }

    void RunStripe(uint32_t stripe) {
        const uint32_t height = processor->height;
        const auto first = static_cast<uint32_t>(uint64_t{height} * stripe / stripes);
        const auto end = static_cast<uint32_t>(uint64_t{height} * (stripe + 1) / stripes);
        PadRows(processor, raw, offset, step, first, end);
        joint.arrive_and_wait();
        if (balance) {
            sums[stripe] = kernels.balanceSums(processor, phase, first, end);
            joint.arrive_and_wait();
        }
        const KernelRows rows{first, end, image};
        if (color) {
            kernels.convertColorRows(processor, phase, rows);
        } else {
            kernels.convertLumaRows(processor, phase, rows);
        }
    }

    static void Stripe(void* job, uint32_t stripe) {
        static_cast<ColorFrameJob*>(job)->RunStripe(stripe);
    }
};

uint32_t StripeCount(const ImageProcessor* processor) {
    if (!processor->workers) return 1;
    return std::min(processor->workers->Parts(), kMostStripes);
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
    const uint32_t stripes = StripeCount(processor);
    ColorFrameJob job{kernels, processor, raw, offset, step, phase, balance, color, image, stripes};
    if (stripes == 1) {
        ColorFrameJob::Stripe(&job, 0);
    } else {
        processor->workers->Run(ColorFrameJob::Stripe, &job);
    }
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
    PadBorder(processor);
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
