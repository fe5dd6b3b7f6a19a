// The class driver's private state of filters and pins, shared by the files that implement them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ks/ks_clock.h"
#include "platform/ks/ks_edit.h"
#include "platform/ks/ks_filter.h"
#include "platform/ks/ks_pin.h"
#include "platform/ks/ks_stream_pointer.h"

namespace bayercam {

struct KSFILTER_IMPL {
    KSDEVICE* device = nullptr;
    KsEditedBlocks edited;
    // Serialises create, close, format and state changes of the filter and its pins.
    std::mutex control;
    std::vector<uint32_t> pinCounts;  // open pins per pin descriptor
    std::vector<KSPIN*> pins;
};

struct KsCompletedFrame {
    KSSTREAM_HEADER* header;
    NTSTATUS status;
};

struct KSPIN_IMPL {
    KSFILTER* filter = nullptr;
    KsEditedBlocks edited;
    KsStreamClock* clock = nullptr;  // null: the pin was created without a clock

    std::mutex lock;                      // guards every member below
    bool acceptsFrames = false;           // false in the stop state
    std::deque<KSSTREAM_HEADER*> queued;  // leading edge first
    std::deque<KsCompletedFrame> completed;
    std::condition_variable frameCompleted;
    KSSTREAM_POINTER leadingEdge{};
    bool leadingEdgeLocked = false;
    uint64_t framesCompleted = 0;

    // Taken from the descriptor once the minidriver's Create has had its chance to edit it.
    PFNKSPIN process = nullptr;
    uint32_t flags = 0;
    std::thread worker;
    std::condition_variable workerWake;
    std::condition_variable passEnded;
    bool processingAllowed = false;
    bool passRequested = false;
    bool passRunning = false;
    bool workerStop = false;
};

// KsClosePin with the filter's control mutex already held.
NTSTATUS KsClosePinLocked(KSPIN* pin);

// Frame queue: leaving stop opens the queue; entering stop closes it and gives every queued
// frame back cancelled.
void KsPinSetFrameAcceptance(KSPIN* pin, bool accept);

// Processing worker, started once the pin is created. Start fails with
// STATUS_INSUFFICIENT_RESOURCES when no thread can be made.
NTSTATUS KsPinStartWorker(KSPIN* pin);
void KsPinStopWorker(KSPIN* pin);
// Lets passes run from now on; `initiate` also asks for one.
void KsPinEnableProcessing(KSPIN* pin, bool initiate);
// Drops pending requests and waits for a pass in progress to end; no pass starts afterwards.
void KsPinDisableProcessing(KSPIN* pin);

}  // namespace bayercam
