#include "gst/frame_timeline.h"

#include <algorithm>

namespace bayercam::gst {

FrameStamp FrameTimeline::Next(uint64_t sequence, uint64_t timestampNs,
                               std::optional<uint64_t> runningNow) {
    FrameStamp stamp{0, resync_, 0};
    if (resync_) {
        offset_ = static_cast<int64_t>(runningNow.value_or(0)) - static_cast<int64_t>(timestampNs);
    } else if (sequence != lastSequence_ + 1) {
        stamp.discont = true;
        // A sequence that goes back is a restarted stream, not a loss.
        if (sequence > lastSequence_) stamp.dropped = sequence - lastSequence_ - 1;
    }
    int64_t pts = std::max<int64_t>(0, static_cast<int64_t>(timestampNs) + offset_);
    if (runningNow) pts = std::min(pts, static_cast<int64_t>(*runningNow));
    if (lastPts_) pts = std::max(pts, static_cast<int64_t>(*lastPts_));
    stamp.pts = static_cast<uint64_t>(pts);
    lastPts_ = stamp.pts;
    lastSequence_ = sequence;
    resync_ = false;
    return stamp;
}

}  // namespace bayercam::gst
