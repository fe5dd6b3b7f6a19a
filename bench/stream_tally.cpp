#include "bench/stream_tally.h"

#include <algorithm>

namespace bayercam::bench {

void StreamTally::Add(uint64_t sequence, uint32_t droppedBefore) {
    if (delivered_++ > 0) {
        if (sequence <= previous_) {
            ++outOfOrder_;
            return;
        }
        dropped_ += std::max<uint64_t>(sequence - previous_ - 1, droppedBefore);
    }
    previous_ = sequence;
}

}  // namespace bayercam::bench
