#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <thread>

#include "platform/kernel/pool.h"
#include "platform/kernel/sync.h"
#include "platform/ks/ks_filter.h"
#include "platform/ks/ks_pin.h"
#include "platform/ks/ks_processing.h"
#include "platform/ks/ks_stream_pointer.h"
#include "support/ks_test_minidriver.h"

namespace bayercam::test {
namespace {

constexpr uint32_t kNoHangMs = 10'000;

struct PinFixture {
    explicit PinFixture(uint32_t flags) : driver(flags) {
        EXPECT_EQ(KsCreateFilter(&driver.device, &driver.filterDescriptor, &filter),
                  STATUS_SUCCESS);
        KS_DATAFORMAT_VIDEOINFOHEADER format = TestMiniDriver::Format();
        EXPECT_EQ(KsCreatePin(filter, 0, &format.DataFormat, sizeof format, true, &pin),
                  STATUS_SUCCESS);
    }
    ~PinFixture() {
        if (pin) KsClosePin(pin);
        KsCloseFilter(filter);
    }

    TestMiniDriver driver;
    KSFILTER* filter = nullptr;
    KSPIN* pin = nullptr;
};

// Passes that only count, so that a queued frame stays queued.
NTSTATUS CountPass(KSPIN*) {
    ++Driver().passes;
    return STATUS_PENDING;
}

TEST(KsProcessing, PinFlagsDecideWhenPassesRun) {
    constexpr uint32_t kNoInitiate = KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING;
    constexpr uint32_t kNoFrames = KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING;
    constexpr uint32_t kRunOnly = KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY;
    struct Case {
        const char* name;
        uint32_t flags;
        KSSTATE state;
        bool queueFrame;
        bool attempt;
        int passes;
    } cases[] = {
        {"a queued frame starts processing", kRunOnly, KSSTATE_RUN, true, false, 1},
        {"unless the pin does not initiate", kRunOnly | kNoInitiate, KSSTATE_RUN, true, false, 0},
        {"an attempt runs a pass for a frame", kRunOnly | kNoInitiate, KSSTATE_RUN, true, true, 1},
        {"no frame, frames required", kRunOnly | kNoInitiate, KSSTATE_RUN, false, true, 0},
        {"no frame, frames not required", kRunOnly | kNoInitiate | kNoFrames, KSSTATE_RUN, false,
         true, 1},
        {"pause, run only", kRunOnly | kNoFrames, KSSTATE_PAUSE, true, true, 0},
        {"pause, not run only", kNoFrames, KSSTATE_PAUSE, false, true, 1},
        {"acquire never processes", kNoFrames, KSSTATE_ACQUIRE, true, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PinFixture fixture(c.flags);
        fixture.driver.process = CountPass;
        ASSERT_EQ(KsPinChangeState(fixture.pin, c.state), STATUS_SUCCESS);
        KsPinWaitProcessingIdle(fixture.pin);
        fixture.driver.passes = 0;  // entering the state may have asked for one
        TestFrame frame;
        if (c.queueFrame) {
            ASSERT_EQ(KsPinQueueFrame(fixture.pin, frame.Header()), STATUS_PENDING);
        }
        if (c.attempt) KsPinAttemptProcessing(fixture.pin, true);
        KsPinWaitProcessingIdle(fixture.pin);
        EXPECT_EQ(fixture.driver.passes, c.passes);
    }
}

TEST(KsProcessing, EnteringRunStartsProcessingUnlessThePinSaysNot) {
    for (uint32_t flags : {0u, uint32_t{KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING}}) {
        SCOPED_TRACE(flags);
        PinFixture fixture(flags | KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY);
        fixture.driver.process = CountPass;
        ASSERT_EQ(KsPinChangeState(fixture.pin, KSSTATE_PAUSE), STATUS_SUCCESS);
        TestFrame frame;
        ASSERT_EQ(KsPinQueueFrame(fixture.pin, frame.Header()), STATUS_PENDING);
        ASSERT_EQ(KsPinChangeState(fixture.pin, KSSTATE_RUN), STATUS_SUCCESS);
        KsPinWaitProcessingIdle(fixture.pin);
        EXPECT_EQ(fixture.driver.passes, flags ? 0 : 1);
    }
}

TEST(KsProcessing, RequestsDuringAPassGiveExactlyOneMorePass) {
    PinFixture fixture(kDefaultPinFlags);
    KEVENT entered, release;
    fixture.driver.process = [&](KSPIN*) {
        if (++fixture.driver.passes == 1) {
            KeSetEvent(&entered);
            KeWaitForSingleObject(&release, nullptr);
        }
        return STATUS_PENDING;
    };
    ASSERT_EQ(KsPinChangeState(fixture.pin, KSSTATE_RUN), STATUS_SUCCESS);
    KsPinAttemptProcessing(fixture.pin, true);
    KeWaitForSingleObject(&entered, nullptr);
    for (int i = 0; i < 5; ++i) KsPinAttemptProcessing(fixture.pin, i % 2 == 0);
    KeSetEvent(&release);
    KsPinWaitProcessingIdle(fixture.pin);
    EXPECT_EQ(fixture.driver.passes, 2);
}

TEST(KsProcessing, ASuccessfulPassIsFollowedByAnotherWhileFramesRemain) {
    PinFixture fixture(kDefaultPinFlags);
    std::vector<int> completedBy;
    fixture.driver.process = [&](KSPIN* pin) {
        int pass = ++fixture.driver.passes;
        KSSTREAM_POINTER* pointer =
            KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
        if (!pointer) return STATUS_SUCCESS;
        completedBy.push_back(pass);
        KsStreamPointerUnlock(pointer, true);
        return STATUS_SUCCESS;
    };
    ASSERT_EQ(KsPinChangeState(fixture.pin, KSSTATE_RUN), STATUS_SUCCESS);
    std::deque<TestFrame> frames(3);
    for (auto& frame : frames)
        ASSERT_EQ(KsPinQueueFrame(fixture.pin, frame.Header()), STATUS_PENDING);
    KsPinAttemptProcessing(fixture.pin, true);
    KsPinWaitProcessingIdle(fixture.pin);
    // One pass per frame, and none once the queue is empty.
    EXPECT_EQ(completedBy, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(fixture.driver.passes, 3);
}

// Several threads ask for passes while the pin keeps changing state: passes never overlap and
// every one of them sees the minidriver in run.
TEST(KsProcessing, PassesNeverOverlapAndRunOnlyInRun) {
    PinFixture fixture(kDefaultPinFlags);
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> outsideRun{0};
    fixture.driver.process = [&](KSPIN* pin) {
        if (inside.fetch_add(1) != 0) overlaps++;
        if (Driver().driverState != KSSTATE_RUN) outsideRun++;
        ++Driver().passes;
        KSSTREAM_POINTER* pointer =
            KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
        if (pointer) KsStreamPointerUnlock(pointer, true);
        std::this_thread::yield();
        inside.fetch_sub(1);
        return STATUS_PENDING;
    };
    std::atomic<bool> done{false};
    std::vector<std::thread> notifiers;
    for (int i = 0; i < 2; ++i)
        notifiers.emplace_back([&] {
            while (!done) KsPinAttemptProcessing(fixture.pin, true);
        });
    std::deque<TestFrame> frames(4);
    std::vector<KSSTREAM_HEADER*> idle;
    for (auto& frame : frames) idle.push_back(frame.Header());
    const KSSTATE cycle[] = {KSSTATE_RUN,     KSSTATE_PAUSE, KSSTATE_RUN,
                             KSSTATE_ACQUIRE, KSSTATE_RUN,   KSSTATE_STOP};
    for (int round = 0; round < 50; ++round) {
        for (KSSTATE state : cycle) {
            ASSERT_EQ(KsPinChangeState(fixture.pin, state), STATUS_SUCCESS);
            if (state == KSSTATE_STOP) continue;
            // Keep frames coming; whatever is queued at stop comes back cancelled.
            KSSTREAM_HEADER* header;
            NTSTATUS frameStatus;
            while (KsPinWaitFrame(fixture.pin, 0, &header, &frameStatus) == STATUS_SUCCESS)
                idle.push_back(header);
            for (KSSTREAM_HEADER* frame : idle)
                ASSERT_EQ(KsPinQueueFrame(fixture.pin, frame), STATUS_PENDING);
            idle.clear();
        }
    }
    ASSERT_EQ(KsPinChangeState(fixture.pin, KSSTATE_RUN), STATUS_SUCCESS);
    done = true;
    for (auto& thread : notifiers) thread.join();
    KsClosePin(fixture.pin);  // from run, with passes likely still asked for
    fixture.pin = nullptr;
    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(outsideRun, 0);
    EXPECT_GT(fixture.driver.passes, 0);
}

}  // namespace
}  // namespace bayercam::test
