#include "usb/frame_timeout.h"

#include <atomic>

namespace bayercam {
namespace {

// Written by the settings load and the property set while capture threads read it.
std::atomic<uint32_t> frameTimeoutMs{kDefaultFrameTimeoutMs};

}  // namespace

uint32_t GetFrameTimeoutMs() {
    return frameTimeoutMs.load();
}

void SetFrameTimeoutMs(uint32_t milliseconds) {
    frameTimeoutMs.store(milliseconds);
}

}  // namespace bayercam
