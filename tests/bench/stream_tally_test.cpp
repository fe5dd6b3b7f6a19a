// The cameras-per-host figure rests on this count: a lost frame must show however the stream
// reports it, and start-up losses must not.
#include "bench/stream_tally.h"

#include <gtest/gtest.h>

#include <vector>

namespace bayercam::bench {
namespace {

struct Frame {
    uint64_t sequence;
    uint32_t droppedBefore;
};

TEST(StreamTally, CountsLossesHoweverTheStreamShowsThem) {
    struct Case {
        const char* name;
        std::vector<Frame> frames;
        uint64_t dropped;
        uint64_t outOfOrder;
    } cases[] = {
        {"consecutive", {{5, 0}, {6, 0}, {7, 0}}, 0, 0},
        {"losses before the first frame are start-up", {{40, 39}, {41, 0}}, 0, 0},
        {"a gap in the sequence", {{1, 0}, {2, 0}, {5, 0}}, 2, 0},
        {"the stream's count without a gap", {{1, 0}, {2, 3}}, 3, 0},
        {"gap and count agree", {{1, 0}, {4, 2}}, 2, 0},
        {"count larger than the gap", {{1, 0}, {3, 4}}, 4, 0},
        {"repeated sequence", {{1, 0}, {1, 0}, {2, 0}}, 0, 1},
        {"backwards, then on from the last good one", {{9, 0}, {3, 0}, {10, 0}}, 0, 1},
    };
    for (const Case& c : cases) {
        StreamTally tally;
        for (const Frame& f : c.frames) tally.Add(f.sequence, f.droppedBefore);
        EXPECT_EQ(tally.Delivered(), c.frames.size()) << c.name;
        EXPECT_EQ(tally.Dropped(), c.dropped) << c.name;
        EXPECT_EQ(tally.OutOfOrder(), c.outOfOrder) << c.name;
        EXPECT_EQ(tally.Clean(), c.dropped == 0 && c.outOfOrder == 0) << c.name;
    }
}

TEST(StreamTally, ATimeoutIsNotClean) {
    StreamTally tally;
    tally.Add(1, 0);
    tally.AddTimeout();
    EXPECT_EQ(tally.Timeouts(), 1u);
    EXPECT_FALSE(tally.Clean());
}

}  // namespace
}  // namespace bayercam::bench
