// The per-device capture record shared by the capture thread and the pin.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/kernel/sync.h"

namespace bayercam {

struct CameraDevice;
struct ImageProcessor;
class WorkerPool;

// Frames are read only while the stream runs.
enum class StreamState : int32_t {
    Stopped = 0,
    Paused = 1,  // buffers held, thread stopped
    Running = 2,
};

// State of each raw buffer; every test and change happens under the buffer-state lock.
enum class RawBufferState : int32_t {
    Free = 0,     // holds nothing of value: the thread may fill it
    Filling = 1,  // the capture thread is reading a frame into it
    Full = 2,     // holds a complete frame not yet converted
    InUse = 3,    // the conversion is reading it
};

struct CaptureContext {
    ImageProcessor* imageProcessor;
    uint8_t* outputBuffer;  // roiW x roiH x 4 bytes while the stream runs
    std::atomic<StreamState> streamState;
    KEVENT processDone;
    PKTHREAD captureThread;
    std::atomic<int32_t> processing;
    RawBufferState bufferState[2];  // under bufferStateLock
    uint8_t* rawBuffer[2];
    std::atomic<uint8_t> running;
    std::atomic<int32_t> framesCaptured;
    // Frames read since the stream started that reached no client frame: overwritten by the
    // thread before they were converted, or converted with no client frame queued.
    std::atomic<int32_t> framesDropped;
    CameraDevice* device;
    WorkerPool* conversionWorkers;  // from the stream's start to its tear-down; may be null

    // Guards every test and change of bufferState.
    KSPIN_LOCK bufferStateLock;
};

// Creates the start's capture record, owned by the device's object bag. Null when it cannot be
// allocated or the bag refuses it.
CaptureContext* CreateCaptureContext(CameraDevice* device);

}  // namespace bayercam
