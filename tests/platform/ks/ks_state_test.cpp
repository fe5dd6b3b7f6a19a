#include <gtest/gtest.h>

#include "platform/kernel/pool.h"
#include "platform/ks/ks_filter.h"
#include "platform/ks/ks_pin.h"
#include "support/ks_test_minidriver.h"

namespace bayercam::test {
namespace {

using Steps = std::vector<StateCall>;
constexpr KSSTATE S = KSSTATE_STOP, A = KSSTATE_ACQUIRE, P = KSSTATE_PAUSE, R = KSSTATE_RUN;

class KsStateWalk : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(KsCreateFilter(&driver_.device, &driver_.filterDescriptor, &filter_),
                  STATUS_SUCCESS);
        KS_DATAFORMAT_VIDEOINFOHEADER format = TestMiniDriver::Format();
        ASSERT_EQ(KsCreatePin(filter_, 0, &format.DataFormat, sizeof format, true, &pin_),
                  STATUS_SUCCESS);
    }
    void TearDown() override {
        if (pin_) KsClosePin(pin_);
        KsCloseFilter(filter_);
    }

    // Puts the pin in `state` and forgets the calls that took.
    void Reach(KSSTATE state) {
        ASSERT_EQ(KsPinChangeState(pin_, state), STATUS_SUCCESS);
        driver_.ClearRecords();
    }

    TestMiniDriver driver_;
    KSFILTER* filter_ = nullptr;
    KSPIN* pin_ = nullptr;
};

TEST_F(KsStateWalk, EveryRequestIsWalkedOneStepAtATime) {
    struct Case {
        KSSTATE from, to;
        Steps steps;  // (to, from) of each SetDeviceState call
    } cases[] = {
        {S, S, {}},
        {S, A, {{A, S}}},
        {S, P, {{A, S}, {P, A}}},
        {S, R, {{A, S}, {P, A}, {R, P}}},
        {A, S, {{S, A}}},
        {A, A, {}},
        {A, P, {{P, A}}},
        {A, R, {{P, A}, {R, P}}},
        {P, S, {{A, P}, {S, A}}},
        {P, A, {{A, P}}},
        {P, P, {}},
        {P, R, {{R, P}}},
        {R, S, {{P, R}, {A, P}, {S, A}}},
        {R, A, {{P, R}, {A, P}}},
        {R, P, {{P, R}}},
        {R, R, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
        Reach(c.from);
        EXPECT_EQ(KsPinChangeState(pin_, c.to), STATUS_SUCCESS);
        EXPECT_EQ(driver_.stateCalls, c.steps);
        EXPECT_EQ(pin_->DeviceState, c.to);
    }
}

TEST_F(KsStateWalk, AFailingStepLeavesThePinInTheLastStateReached) {
    struct Case {
        KSSTATE from, to;
        StateCall failing;
        KSSTATE ends;
        Steps steps;
    } cases[] = {
        {S, R, {A, S}, S, {{A, S}}},
        {S, R, {P, A}, A, {{A, S}, {P, A}}},
        {S, R, {R, P}, P, {{A, S}, {P, A}, {R, P}}},
        {R, S, {P, R}, R, {{P, R}}},
        {R, S, {A, P}, P, {{P, R}, {A, P}}},
        {R, S, {S, A}, A, {{P, R}, {A, P}, {S, A}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to << " failing at "
                                        << c.failing.from << " -> " << c.failing.to);
        driver_.failingStep.reset();
        Reach(c.from);
        driver_.failingStep = c.failing;
        driver_.failingStepStatus = STATUS_INSUFFICIENT_RESOURCES;
        EXPECT_EQ(KsPinChangeState(pin_, c.to), STATUS_INSUFFICIENT_RESOURCES);
        EXPECT_EQ(driver_.stateCalls, c.steps);
        EXPECT_EQ(pin_->DeviceState, c.ends);
    }
}

TEST_F(KsStateWalk, CloseWalksThePinDownToStopFirst) {
    struct Case {
        KSSTATE from;
        std::optional<StateCall> failing;  // a refused step does not keep the pin alive
        Steps steps;
    } cases[] = {
        {S, {}, {}},
        {P, {}, {{A, P}, {S, A}}},
        {R, {}, {{P, R}, {A, P}, {S, A}}},
        {R, StateCall{A, P}, {{P, R}, {A, P}, {S, A}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        driver_.failingStep.reset();
        if (!pin_) {
            KS_DATAFORMAT_VIDEOINFOHEADER format = TestMiniDriver::Format();
            ASSERT_EQ(KsCreatePin(filter_, 0, &format.DataFormat, sizeof format, true, &pin_),
                      STATUS_SUCCESS);
        }
        Reach(c.from);
        driver_.failingStep = c.failing;
        EXPECT_EQ(KsClosePin(pin_), STATUS_SUCCESS);
        pin_ = nullptr;
        EXPECT_EQ(driver_.stateCalls, c.steps);
        EXPECT_EQ(driver_.calls, std::vector<std::string>{"pin close"});
        EXPECT_EQ(KsFilterGetChildPinCount(filter_, 0), 0u);
    }
}

TEST_F(KsStateWalk, UnknownStatesAreRefused) {
    EXPECT_EQ(KsPinChangeState(pin_, static_cast<KSSTATE>(4)), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(KsPinChangeState(pin_, static_cast<KSSTATE>(-1)), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(driver_.stateCalls.empty());
}

}  // namespace
}  // namespace bayercam::test
