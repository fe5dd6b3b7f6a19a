// Copying the converted image into a client frame: the row order and mirroring that the flip
// settings ask for, within the bounds of the frame.
#pragma once

#include <cstdint>

#include "imaging/image_processor.h"

namespace bayercam {

struct FrameCopy {
    int32_t sourceWidth;   // pixels per source row (the region's width); rows are packed
    int32_t sourceHeight;  // source rows (the region's height)
    int32_t outputWidth;   // pixels copied from the left of each row
    int32_t outputHeight;  // rows copied
    uint32_t pitch;        // bytes from one frame row to the next
    bool flipH;            // mirror each row
    bool flipV;            // false: last source row first; true: first source row first
};

// Client-frame row pitch: the larger of a recorded pitch and outputWidth x 4, compared signed.
uint32_t FramePitch(uint32_t outputPitch, int32_t outputWidth);

// Copies `source` into `frame` (`frameBytes` long). Rows that would not fit whole are left out;
// returns the rows copied.
int32_t CopyImageToFrame(const FrameCopy& copy, const uint8_t* source, uint8_t* frame,
                         uint32_t frameBytes);

// The client frame as a destination the conversion can write straight into, placed so that it
// ends up with the bytes CopyImageToFrame would give it. False when the frame cannot take every
// source row; the copy is then the way.
bool FrameAsDestination(const FrameCopy& copy, uint8_t* frame, uint32_t frameBytes,
                        ImageDestination* destination);

}  // namespace bayercam
