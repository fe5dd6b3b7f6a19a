// A fixture base that fails a test which ends with more (or fewer) pool allocations than it
// started with. Fixtures that keep driver objects free them in ReleaseAll, which runs before the
// count; injected allocation faults are cleared before it too.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/kernel/pool.h"

namespace bayercam::testing {

template <typename Base = ::testing::Test>
class LeakCheckedTest : public Base {
  protected:
    void SetUp() override { live_ = pool::LiveAllocations(); }
    void TearDown() override {
        ReleaseAll();
        pool::Reset();
        EXPECT_EQ(pool::LiveAllocations(), live_) << "pool allocations left behind";
    }
    virtual void ReleaseAll() {}

    int64_t live_ = 0;
};

}  // namespace bayercam::testing
