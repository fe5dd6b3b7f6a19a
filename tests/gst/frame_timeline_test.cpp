#include "gst/frame_timeline.h"

#include <gtest/gtest.h>

#include <optional>

namespace bayercam::gst {
namespace {

constexpr uint64_t kMs = 1000000;

struct Step {
    bool resyncBefore;
    uint64_t sequence;
    uint64_t streamNs;
    std::optional<uint64_t> runningNow;
    uint64_t pts;
    bool discont;
    uint64_t dropped;
};

void Walk(const char* name, std::initializer_list<Step> steps) {
    FrameTimeline timeline;
    int i = 0;
    for (const Step& step : steps) {
        if (step.resyncBefore) timeline.Resync();
        FrameStamp stamp = timeline.Next(step.sequence, step.streamNs, step.runningNow);
        EXPECT_EQ(stamp.pts, step.pts) << name << " step " << i;
        EXPECT_EQ(stamp.discont, step.discont) << name << " step " << i;
        EXPECT_EQ(stamp.dropped, step.dropped) << name << " step " << i;
        ++i;
    }
}

TEST(FrameTimelineTest, StampsFollowTheStreamClockFromTheFirstFrame) {
    Walk("steady", {
                       {false, 1, 100 * kMs, 500 * kMs, 500 * kMs, true, 0},
                       {false, 2, 133 * kMs, 534 * kMs, 533 * kMs, false, 0},
                       {false, 3, 166 * kMs, 570 * kMs, 566 * kMs, false, 0},
                   });
    // A frame that arrives early on the running clock is never stamped in the future.
    Walk("never ahead", {
                            {false, 1, 100 * kMs, 500 * kMs, 500 * kMs, true, 0},
                            {false, 2, 133 * kMs, 520 * kMs, 520 * kMs, false, 0},
                        });
    // A stream clock that steps back does not take the stamps back.
    Walk("never back", {
                           {false, 1, 100 * kMs, 500 * kMs, 500 * kMs, true, 0},
                           {false, 2, 90 * kMs, 540 * kMs, 500 * kMs, false, 0},
                       });
    // Without a pipeline clock the stream's own spacing counts from 0.
    Walk("no clock", {
                         {false, 7, 100 * kMs, std::nullopt, 0, true, 0},
                         {false, 8, 133 * kMs, std::nullopt, 33 * kMs, false, 0},
                     });
}

TEST(FrameTimelineTest, GapsAreDiscontinuitiesAndCountAsDropped) {
    Walk("gap", {
                    {false, 10, 0, 0, 0, true, 0},
                    {false, 11, 33 * kMs, 40 * kMs, 33 * kMs, false, 0},
                    {false, 14, 133 * kMs, 140 * kMs, 133 * kMs, true, 2},
                    {false, 15, 166 * kMs, 170 * kMs, 166 * kMs, false, 0},
                });
    // After a pause the stream ran on: a new stretch, anchored again, with nothing dropped.
    Walk("resync", {
                       {false, 1, 0, 0, 0, true, 0},
                       {true, 90, 3000 * kMs, 40 * kMs, 40 * kMs, true, 0},
                       {false, 91, 3033 * kMs, 80 * kMs, 73 * kMs, false, 0},
                   });
    // A restarted stream numbers from the start again: discontinuous, not a loss.
    Walk("restart", {
                        {false, 5, 0, 0, 0, true, 0},
                        {false, 1, 10 * kMs, 20 * kMs, 10 * kMs, true, 0},
                    });
}

}  // namespace
}  // namespace bayercam::gst
