// Which delivered frames show a control change: a loop above the driver that steers a control
// from the frames looks only at frames taken after its last change.
#pragma once

#include <cstdint>
#include <functional>

namespace bayercam::library {

// The stream's count of raw frames read so far: the counter frame numbers come from.
using FramesRead = std::function<uint64_t()>;

class ChangeWatch {
  public:
    // A new stream: every frame counts.
    void Restart() { *this = {}; }
    // A change was made: its last request has been answered, and the stream had read
    // `framesRead` raw frames then (counted after the answer: a frame read while the requests
    // went out may show half of the change). It shows in frames read from framesRead + 2 on,
    // since the frame being read may have begun before it. A frame's number is the count when its
    // conversion ended, not when it was read, so the first frame numbered framesRead + 2 or more
    // may still be an older one that waited for, or sat in, the conversion (one at most:
    // conversions take the newest raw frame, one at a time): it is passed over too.
    void Changed(uint64_t framesRead) {
        showsFrom_ = framesRead + 2;
        passOver_ = true;
    }
    // Whether the frame numbered `sequence` shows the last change; call once per frame, in
    // delivery order.
    bool Shows(uint64_t sequence) {
        if (sequence < showsFrom_) return false;
        if (!passOver_) return true;
        passOver_ = false;
        return false;
    }

  private:
    uint64_t showsFrom_ = 0;
    bool passOver_ = false;
};

}  // namespace bayercam::library
