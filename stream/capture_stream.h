// The capture side of a stream: a system thread reads raw frames back to back into two raw
// buffers, and the pin's processing takes a full one and converts it. The stream's buffers and
// thread live in the device's capture record.
#pragma once

#include <cstdint>

#include "core/capture_context.h"
#include "platform/kernel/ntstatus.h"

namespace bayercam {

struct CameraDevice;
struct ImageProcessor;
struct ImageDestination;
struct KSSTREAM_HEADER;

// One raw frame as the camera left it: the first pixel at `offset`, lines `stride` bytes apart.
struct RawFrameView {
    const uint8_t* data;
    uint32_t bytes;
    int32_t offset;
    int32_t stride;
};

// Shows the raw frame behind a delivered client frame to whoever wants it kept. Runs in the
// pin's processing while the conversion still holds the raw buffer, before `frame` completes.
using RawFrameTapFn = void (*)(void* context, const KSSTREAM_HEADER* frame,
                               const RawFrameView& raw);
struct RawFrameTap {
    RawFrameTapFn deliver;
    void* context;
    const KSSTREAM_HEADER* frame;  // the client frame the conversion is for
};

// Programs the camera for streaming, allocates the two raw buffers, the output buffer and the
// processor's work buffer, and starts the capture thread. Nothing stays allocated on failure.
NTSTATUS StartStream(CameraDevice* device);
// Stops the capture thread and frees the stream's buffers.
void TearDownStream(CameraDevice* device);

void StartCaptureThread(CaptureContext* context);
// Returns once the thread has ended and no conversion uses the raw buffers any more. A frame
// read in progress is cancelled rather than waited out.
void StopCaptureThread(CaptureContext* context);
// The capture thread's body; `context` is the capture record.
void CaptureLoop(void* context);
// One frame read into `buffer`; true when a whole frame arrived.
bool FillRawBuffer(CaptureContext* context, uint8_t* buffer);

// A client image the conversion may write straight into, saving the copy from the output
// buffer; `written` tells whether it did.
struct DirectImage {
    const ImageDestination* destination;
    bool written;
};

// Converts the next full raw buffer into the capture record's output buffer, or into `direct`
// when given and able to take it; false when the stream is stopping or no full buffer is
// waiting. `tap`, if given, sees the raw frame.
bool ConvertRawFrame(CaptureContext* context, const RawFrameTap* tap = nullptr,
                     DirectImage* direct = nullptr);

// The choose-and-mark and mark-done steps of the two raw buffers.
uint8_t* TakeBufferToFill(CaptureContext* context);
void FinishFill(CaptureContext* context, uint8_t* buffer, bool ok);
// Null when neither buffer is full.
uint8_t* TakeBufferToConvert(CaptureContext* context);
void FinishConvert(CaptureContext* context, uint8_t* buffer);
RawBufferState BufferState(CaptureContext* context, int index);

// Pause after `failures` consecutive failed reads, in milliseconds: reads that fail at once
// (camera gone, not configured) must not spin a core.
int32_t CaptureBackoffMs(int32_t failures);

}  // namespace bayercam
