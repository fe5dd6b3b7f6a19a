// The two frame converters and the padded work copy they share. A colour frame is converted in
// horizontal bands, on a worker pool by whichever thread comes first: every band is padded, then
// (with white balance on) measured, the gains set from the bands' sums, then converted.
#include <algorithm>
#include <atomic>
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
        const uint8_t* source = raw + offset + size_t{rawRow} * step;
        std::memcpy(line, source, width);
        if (!bordered) return;
        // From the raw row rather than the bytes just copied, which are not yet readable
        // without a stall.
        line[-1] = source[1];
        line[-2] = source[2];
        line[width] = source[width - 2];
        line[width + 1] = source[width - 3];
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
    std::atomic<bool> padded[kMostBands] = {};

    uint32_t First(uint32_t band) const {
        return static_cast<uint32_t>(uint64_t{processor->height} * band / bands);
    }

    void Pad(uint32_t band) {
        PadRows(processor, raw, offset, step, First(band), First(band + 1));
        padded[band].store(true, std::memory_order_release);
    }
    void Balance(uint32_t band) {
        sums[band] = kernels.balanceSums(processor, phase, First(band), First(band + 1));
    }
    void Convert(uint32_t band) {
        const KernelRows rows{First(band), First(band + 1), image};
        if (color) {
            kernels.convertColorRows(processor, phase, rows);
        } else {
            kernels.convertLumaRows(processor, phase, rows);
        }
    }

    // A band reads two rows either side, and the last block of a row reads whole vectors on
    // into the next line: rows that the band before it and the two after it pad (every band has
    // two rows at least).
    static constexpr uint32_t kReadAhead = 2;
    // Pads run this many bands ahead of the steps that read them, so that a step waits only for
    // padding already under way (never for one not yet taken), rarely at all, and finds the
    // padded rows still in the cache.
    static constexpr uint32_t kPadAhead = 2;
    static_assert(kPadAhead >= kReadAhead);

    void AwaitNeighbours(uint32_t band) {
        for (uint32_t b = band > 0 ? band - 1 : 0; b <= band + kReadAhead && b < bands; ++b) {
            WaitUntilSet(padded[b]);
        }
    }

    // Task t of the sequence pad 0, pad 1, pad 2, step 0, pad 3, step 1, ..., step n - 1.
    struct Task {
        bool pad;
        uint8_t band;
    };
    Task order[2 * kMostBands] = {};

    void Order() {
        uint32_t task = 0;
        uint32_t nextPad = 0;
        for (uint32_t band = 0; band < bands; ++band) {
            for (; nextPad < bands && nextPad <= band + kPadAhead; ++nextPad) {
                order[task++] = {true, static_cast<uint8_t>(nextPad)};
            }
            order[task++] = {false, static_cast<uint8_t>(band)};
        }
    }

    template <void (ColorFrameJob::*kStep)(uint32_t)>
    static void PaddedStep(void* context, uint32_t task) {
        auto& job = *static_cast<ColorFrameJob*>(context);
        const Task& t = job.order[task];
        if (t.pad) return job.Pad(t.band);
        job.AwaitNeighbours(t.band);
        (job.*kStep)(t.band);
    }
    static void ConvertStep(void* context, uint32_t band) {
        static_cast<ColorFrameJob*>(context)->Convert(band);
    }

    // Runs `tasks` tasks, on the pool when it has more than the calling thread.
    void RunTasks(WorkerPool::Task task, uint32_t tasks) {
        WorkerPool* pool = processor->workers;
        if (pool && pool->Threads() > 1) return pool->Run(task, this, tasks);
        for (uint32_t t = 0; t < tasks; ++t) task(this, t);
    }

    void Run(bool balance) {
        Order();
        if (!balance) return RunTasks(PaddedStep<&ColorFrameJob::Convert>, 2 * bands);
        RunTasks(PaddedStep<&ColorFrameJob::Balance>, 2 * bands);
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
        RunTasks(ConvertStep, bands);
    }
};

// One thread takes the frame whole: its bands would only add hand-overs to itself. So does a
// frame narrower than the kernels' read past a line's end, which would reach beyond the next
// line (see ColorFrameJob::kReadAhead).
uint32_t BandCount(const ImageProcessor* processor) {
    if (!processor->workers || processor->workers->Threads() == 1) return 1;
    if (processor->width < kWorkReadSlack) return 1;
    return std::clamp(processor->height / 2, 1u, kMostBands);
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
