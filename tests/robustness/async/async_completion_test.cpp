// Every request answered pending and completed later from another thread, in a seeded random
// order: the driver must not assume that a request is done when the call returns, nor that
// requests complete in the order they were made.
#include <gtest/gtest.h>

#include "camera/register_access.h"
#include "platform/kernel/pool.h"
#include "robustness/bounded_run.h"
#include "robustness/device_scenario.h"
#include "support/leak_check.h"

namespace bayercam::testing {
namespace {

struct AsyncCase {
    uint64_t seed;
    uint32_t maxDelayMicroseconds;
};

class AsyncCompletionTest : public LeakCheckedTest<::testing::TestWithParam<AsyncCase>> {
  protected:
    void Arm(SimDevice& sim) {
        sim.bus.SetAsynchronousCompletion(GetParam().seed, GetParam().maxDelayMicroseconds);
    }

    SettingsFolder folder_;
};

TEST_P(AsyncCompletionTest, DeviceLifeWithFrames) {
    ScenarioOutcome outcome;
    RunBounded("device life", [&] {
        ScenarioOptions options;
        options.frames = 3;
        options.direct = true;
        options.arm = [this](SimDevice& sim) { Arm(sim); };
        outcome = RunScenario(options);
    });
    EXPECT_EQ(outcome.startStatus, STATUS_SUCCESS);
    EXPECT_EQ(outcome.framesGood, 3);
    EXPECT_EQ(outcome.framesFailed, 0);
}

// The same with the capture thread reading and a client taking the frames through the pin.
TEST_P(AsyncCompletionTest, ClientLifeWithFrames) {
    ScenarioOutcome outcome;
    RunBounded("client life", [&] {
        ScenarioOptions options;
        options.frames = 10;
        options.arm = [this](SimDevice& sim) { Arm(sim); };
        outcome = RunScenario(options);
    });
    EXPECT_EQ(outcome.startStatus, STATUS_SUCCESS);
    EXPECT_TRUE(outcome.streaming);
    EXPECT_EQ(outcome.framesGood, 10);
    EXPECT_EQ(outcome.framesFailed, 0);
}

TEST_P(AsyncCompletionTest, RegisterTrafficKeepsItsAnswersApart) {
    RunBounded("register traffic", [&] {
        SimDevice sim;
        Arm(sim);
        sim.AddAndStart();
        for (uint32_t i = 0; i < 40; ++i) {
            uint32_t reg = 100 + i % 8;
            auto value = static_cast<uint8_t>(i * 37 + 1);
            ASSERT_TRUE(WriteLogicRegister(sim.device(), reg, value));
            uint8_t read = 0;
            ASSERT_TRUE(ReadLogicRegister(sim.device(), reg, &read));
            EXPECT_EQ(read, value) << "register " << reg << " round " << i;
            EXPECT_EQ(sim.camera.LogicRegister(static_cast<int>(reg)), value);
        }
        sim.Stop();
        sim.Remove();
    });
}

INSTANTIATE_TEST_SUITE_P(Seeds, AsyncCompletionTest,
                         ::testing::Values(AsyncCase{1, 0}, AsyncCase{2, 50}, AsyncCase{3, 500},
                                           AsyncCase{4, 2000}, AsyncCase{5, 2000}));

}  // namespace
}  // namespace bayercam::testing
