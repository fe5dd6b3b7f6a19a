// The per-frame kernels over the padded work copy: colour reconstruction, luminance and
// white-balance statistics, each for the four Bayer phases.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/image_processor.h"

namespace bayercam {

// Colour layout of the raw frame, counted from pixel (0, 0).
enum class BayerPhase : int32_t {
    GRBG = 0,
    BGGR = 1,
    RGGB = 2,
    GBRG = 3,
};

// 0..2 select their phase; every other value selects GBRG.
BayerPhase PhaseFromPipelineMode(int32_t mode);

// Which image rows one kernel call handles, and where their pixels go (the image's width at most
// frameWidth; its height is not read). Disjoint row ranges may run at once.
struct KernelRows {
    uint32_t first;
    uint32_t end;  // one past the last row
    ImageDestination image;
};

// Every row of the frame, packed top to bottom at outputCursor.
KernelRows AllRows(const ImageProcessor* processor);

// The channel sums of the reconstructed colours over some rows, before any gain.
struct ChannelSums {
    uint64_t red;
    uint64_t green;
    uint64_t blue;
};

// The whole-frame kernels. They read pixelOrigin, rowPitch, frameWidth, frameHeight, the frame
// gains, frameMatrix and matrixPositive. ConvertColorKernel writes frameWidth x frameHeight
// pixels (blue, green, red, 0xFF) at outputCursor.
void ConvertColorKernel(ImageProcessor* processor, BayerPhase phase);
// As ConvertColorKernel, but writes the luminance of the gained colours; reads no matrix.
void ConvertLumaKernel(ImageProcessor* processor, BayerPhase phase);
// Sums the reconstructed channels over the frame and sets the three frame gains from them.
void ComputeWhiteBalance(ImageProcessor* processor, BayerPhase phase);

// Writes each of `count` bytes as a gray pixel: blue, green and red the byte, then 0xFF.
void ExpandBytesToBgra(const uint8_t* source, uint8_t* destination, size_t count);

// The name of the instruction set the vector kernels run on.
const char* VectorKernelTarget();
// The instruction sets the vector kernels are compiled for, as a mask of HWY_ target bits.
int64_t VectorKernelTargets();

// Bytes allocated past the end of the work buffer: the last block of a row reads whole vectors,
// up to kWorkReadSlack bytes past the last line, and throws those pixels away.
constexpr uint32_t kWorkReadSlack = 64;

// One complete set of the kernels the frame conversion runs, in their row forms.
struct BayerKernelSet {
    void (*convertColorRows)(const ImageProcessor* processor, BayerPhase phase,
                             const KernelRows& rows);
    void (*convertLumaRows)(const ImageProcessor* processor, BayerPhase phase,
                            const KernelRows& rows);
    ChannelSums (*balanceSums)(const ImageProcessor* processor, BayerPhase phase, uint32_t first,
                               uint32_t end);

    // The whole-frame forms, at outputCursor.
    void convertColor(ImageProcessor* processor, BayerPhase phase) const {
        convertColorRows(processor, phase, AllRows(processor));
    }
    void convertLuma(ImageProcessor* processor, BayerPhase phase) const {
        convertLumaRows(processor, phase, AllRows(processor));
    }
    void computeWhiteBalance(ImageProcessor* processor, BayerPhase phase) const;
};

extern const BayerKernelSet kVectorKernels;
// The plain per-pixel forms: the fallback of the vector kernels and the reference they are
// checked against.
extern const BayerKernelSet kScalarKernels;

// ConvertColorFrame with a chosen kernel set; ConvertColorFrame uses kVectorKernels.
void ConvertColorFrameWith(const BayerKernelSet& kernels, ImageProcessor* processor,
                           const uint8_t* raw, uint32_t offset, uint32_t step);

// |m| of a colour-matrix entry, exact for every int32.
inline int64_t MatrixMagnitude(int32_t entry) {
    return entry < 0 ? -int64_t{entry} : int64_t{entry};
}

// Frame gains (1/128 units) from the channel sums of a frame. A channel whose quotient is not
// finite keeps the gain it is given; green is always 128.
void WhiteBalanceGains(uint64_t sumRed, uint64_t sumGreen, uint64_t sumBlue, int32_t* redGain,
                       int32_t* greenGain, int32_t* blueGain);
// The same from sums, into the processor's frame gains.
void SetFrameGainsFromSums(ImageProcessor* processor, const ChannelSums& sums);

}  // namespace bayercam
