// The per-device capture record shared by the capture thread and the pin.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/kernel/sync.h"

namespace bayercam {

struct CameraDevice;
struct ImageProcessor;
class WorkerPool;

struct CaptureContext {
    ImageProcessor* imageProcessor;
    uint8_t* outputBuffer;             // roiW x roiH x 4 bytes while the stream runs
    std::atomic<int32_t> streamState;  // 0 stopped, 1 paused, 2 running
    KEVENT processDone;
    PKTHREAD captureThread;
    std::atomic<int32_t> processing;
    int32_t bufferState[2];  // under bufferStateLock
    uint8_t* rawBuffer[2];
    std::atomic<uint8_t> running;
    std::atomic<int32_t> framesCaptured;
    CameraDevice* device;
    WorkerPool* conversionWorkers;  // from the stream's start to its tear-down; may be null

    // Guards every test and change of bufferState.
    KSPIN_LOCK bufferStateLock;
};

// Creates the start's capture record, owned by the device's object bag. Null when it cannot be
// allocated or the bag refuses it.
CaptureContext* CreateCaptureContext(CameraDevice* device);

}  // namespace bayercam
