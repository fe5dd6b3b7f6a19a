// What each delivered frame is stamped with: its presentation time in the pipeline's running
// time, whether it follows a gap, and how many frames the gap lost.
#pragma once

#include <cstdint>
#include <optional>

namespace bayercam::gst {

struct FrameStamp {
    uint64_t pts;      // nanoseconds of running time
    bool discont;      // not the frame after the previous one delivered
    uint64_t dropped;  // frames the camera numbered between the two and never delivered
};

class FrameTimeline {
  public:
    // The next frame starts a new stretch: it is anchored anew and marked as a discontinuity,
    // and the frames skipped before it (the stream ran on while the pipeline was not playing)
    // are not counted as dropped.
    void Resync() { resync_ = true; }

    // `timestampNs` is the frame's time on the stream's clock, `runningNow` the pipeline's
    // running time as the frame arrives (none without a clock). The stream's clock sets the
    // spacing; the first frame of a stretch pins it to running time. Stamps never go backwards
    // and never lie ahead of `runningNow`.
    FrameStamp Next(uint64_t sequence, uint64_t timestampNs, std::optional<uint64_t> runningNow);

  private:
    bool resync_ = true;
    uint64_t lastSequence_ = 0;
    int64_t offset_ = 0;  // running time minus stream time
    std::optional<uint64_t> lastPts_;
};

}  // namespace bayercam::gst
