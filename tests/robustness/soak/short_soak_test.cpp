// A few thousand frames with controls changing underneath, and stop/start cycles: the short form
// of the long soak, small enough for every CI run.
#include <gtest/gtest.h>

#include "tools/soak/soak_run.h"

namespace bayercam::soak {
namespace {

TEST(ShortSoak, FramesAndCyclesAllSucceedWithoutLeaks) {
    SoakOptions options;
    options.frames = 2'000;
    options.cycles = 20;
    SoakFigures figures = RunSoak(options);
    ASSERT_TRUE(figures.started);
    EXPECT_EQ(figures.framesDelivered, options.frames);
    EXPECT_EQ(figures.framesFailed, 0u);
    EXPECT_GT(figures.controlChanges, 0u);
    EXPECT_EQ(figures.controlFailures, 0u);
    EXPECT_EQ(figures.cyclesDone, options.cycles);
    EXPECT_EQ(figures.cycleFailures, 0u);
    EXPECT_EQ(figures.liveAllocationsAfter, 0);
}

}  // namespace
}  // namespace bayercam::soak
