// The latest delivered frame, shared by every viewer. Each viewer takes the newest frame when it
// is ready for one, so a slow viewer skips frames instead of queueing them, and the camera never
// waits for a viewer.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "web/frame_encoding.h"

namespace bayercam::web {

// Live view qualities, best first: what a viewer steps down to while it falls behind.
struct JpegLevel {
    int quality;
    uint32_t shrink;
};
inline constexpr std::array<JpegLevel, 4> kJpegLevels = {{{85, 1}, {60, 1}, {60, 2}, {50, 4}}};

class LiveFrame {
  public:
    LiveFrame(std::vector<uint8_t> pixels, uint32_t width, uint32_t height, uint64_t serial);
    BgraImage Image() const { return {pixels_, width_, height_}; }
    uint64_t Serial() const { return serial_; }
    // The frame at kJpegLevels[level], encoded once, by the first viewer that asks.
    const std::string& Jpeg(size_t level) const;

  private:
    std::vector<uint8_t> pixels_;
    uint32_t width_;
    uint32_t height_;
    uint64_t serial_;  // 1 for the first frame published
    mutable std::mutex encodeLock_;
    mutable std::array<std::optional<std::string>, kJpegLevels.size()> jpeg_;
};

struct LiveStats {
    uint64_t delivered = 0;
    uint64_t dropped = 0;  // by the camera and the driver, as the frames report it
    double fps = 0;        // over the last frames' time stamps
    uint32_t width = 0;
    uint32_t height = 0;
};

class FrameHub {
  public:
    // Copies a frame (rows `stride` bytes apart) and wakes the viewers.
    void Publish(const uint8_t* data, uint32_t width, uint32_t height, int32_t stride,
                 uint64_t timestampNs, uint32_t dropped);
    // Null before the first frame.
    std::shared_ptr<const LiveFrame> Latest() const;
    // The latest frame once it is newer than serial `seen`; null after `timeout` or Close.
    std::shared_ptr<const LiveFrame> WaitNewer(uint64_t seen,
                                               std::chrono::milliseconds timeout) const;
    // Wakes every waiter for good: the server is going down.
    void Close();
    bool Closed() const;
    LiveStats Stats() const;

  private:
    mutable std::mutex lock_;
    mutable std::condition_variable published_;
    std::shared_ptr<const LiveFrame> latest_;
    bool closed_ = false;
    LiveStats stats_;
    std::deque<uint64_t> recentTimes_;  // time stamps of the last frames, for the rate
};

}  // namespace bayercam::web
