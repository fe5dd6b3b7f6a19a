#include "stream/frame_copy.h"

#include <algorithm>
#include <cstring>

namespace bayercam {

uint32_t FramePitch(uint32_t outputPitch, int32_t outputWidth) {
    int64_t rowBytes = int64_t{outputWidth} * 4;
    return static_cast<uint32_t>(std::max<int64_t>(static_cast<int32_t>(outputPitch), rowBytes));
}

namespace {

// Never more than the source holds.
int32_t CopiedWidth(const FrameCopy& copy) {
    return std::min(copy.outputWidth, copy.sourceWidth);
}

// The rows that fit whole, 0 when none does.
int32_t CopiedRows(const FrameCopy& copy, uint32_t frameBytes) {
    const int32_t width = CopiedWidth(copy);
    if (copy.outputHeight <= 0 || width <= 0) return 0;
    const uint64_t rowBytes = uint64_t(width) * 4;
    const uint64_t pitch = copy.pitch;
    if (frameBytes < rowBytes || pitch < rowBytes) return 0;
    // The frame was sized when the pin was made; a later format may ask for more than it holds.
    const int64_t fitting = int64_t((frameBytes - rowBytes) / pitch) + 1;
    return static_cast<int32_t>(std::min<int64_t>({copy.outputHeight, copy.sourceHeight, fitting}));
}

}  // namespace

int32_t CopyImageToFrame(const FrameCopy& copy, const uint8_t* source, uint8_t* frame,
                         uint32_t frameBytes) {
    const int32_t rows = CopiedRows(copy, frameBytes);
    const int32_t width = CopiedWidth(copy);
    const uint64_t rowBytes = uint64_t(width) * 4;
    const uint64_t pitch = copy.pitch;
    const size_t sourcePitch = size_t(copy.sourceWidth) * 4;

    for (int32_t row = 0; row < rows; ++row) {
        int32_t sourceRow = copy.flipV ? row : copy.sourceHeight - 1 - row;
        const uint8_t* from = source + size_t(sourceRow) * sourcePitch;
        uint8_t* to = frame + size_t(row) * pitch;
        if (!copy.flipH) {
            std::memcpy(to, from, rowBytes);
            continue;
        }
        for (int32_t i = 0, j = width - 1; i < width; ++i, --j)
            std::memcpy(to + size_t(i) * 4, from + size_t(j) * 4, 4);
    }
    return rows;
}

bool FrameAsDestination(const FrameCopy& copy, uint8_t* frame, uint32_t frameBytes,
                        ImageDestination* destination) {
    if (copy.sourceHeight <= 0 || CopiedRows(copy, frameBytes) != copy.sourceHeight) return false;
    const auto pitch = static_cast<ptrdiff_t>(copy.pitch);
    // Bottom-up unless flipV: source row 0 goes to the frame's last copied row.
    destination->rowZero = copy.flipV ? frame : frame + (copy.sourceHeight - 1) * pitch;
    destination->pitch = copy.flipV ? pitch : -pitch;
    destination->width = static_cast<uint32_t>(CopiedWidth(copy));
    destination->height = static_cast<uint32_t>(copy.sourceHeight);
    destination->mirror = copy.flipH;
    return true;
}

}  // namespace bayercam
