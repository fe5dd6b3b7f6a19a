// What one camera's stream delivered over a run: frames, and frames lost on the way, from the
// sequence numbers and drop counts of the frames themselves.
#pragma once

#include <cstdint>

namespace bayercam::bench {

class StreamTally {
  public:
    // One delivered frame. The first one only sets where counting starts: what the stream
    // dropped before it belongs to the start-up, not to the run.
    void Add(uint64_t sequence, uint32_t droppedBefore);
    // A wait for a frame that ended without one.
    void AddTimeout() { ++timeouts_; }

    uint64_t Delivered() const { return delivered_; }
    // Frames missing between delivered ones: the larger of the sequence gap and the stream's own
    // count, so that neither can hide a loss.
    uint64_t Dropped() const { return dropped_; }
    // Frames whose sequence number did not move forward.
    uint64_t OutOfOrder() const { return outOfOrder_; }
    uint64_t Timeouts() const { return timeouts_; }
    // Every frame arrived, in order, none missing.
    bool Clean() const { return dropped_ == 0 && outOfOrder_ == 0 && timeouts_ == 0; }

  private:
    uint64_t delivered_ = 0;
    uint64_t previous_ = 0;
    uint64_t dropped_ = 0;
    uint64_t outOfOrder_ = 0;
    uint64_t timeouts_ = 0;
};

}  // namespace bayercam::bench
