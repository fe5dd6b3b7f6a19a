#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <thread>

#include "platform/kernel/pool.h"
#include "platform/kernel/sync.h"
#include "platform/ks/ks_clock.h"
#include "platform/ks/ks_filter.h"
#include "platform/ks/ks_pin.h"
#include "platform/ks/ks_processing.h"
#include "platform/ks/ks_stream_pointer.h"
#include "support/ks_test_minidriver.h"

namespace bayercam::test {
namespace {

// Long enough never to end a wait on a working system; only a hang reaches it.
constexpr uint32_t kNoHangMs = 10'000;

class KsFrames : public ::testing::Test {
  protected:
    void SetUp() override {
        baseline_ = pool::LiveAllocations();
        ASSERT_EQ(KsCreateFilter(&driver_.device, &driver_.filterDescriptor, &filter_),
                  STATUS_SUCCESS);
        KS_DATAFORMAT_VIDEOINFOHEADER format = TestMiniDriver::Format();
        ASSERT_EQ(KsCreatePin(filter_, 0, &format.DataFormat, sizeof format, true, &pin_),
                  STATUS_SUCCESS);
    }
    void TearDown() override {
        if (pin_) KsClosePin(pin_);
        KsCloseFilter(filter_);
        EXPECT_EQ(pool::LiveAllocations(), baseline_);
    }

    // The next frame back from the pin, or null.
    KSSTREAM_HEADER* Next(NTSTATUS* frameStatus, uint32_t timeoutMs = kNoHangMs) {
        KSSTREAM_HEADER* header = nullptr;
        NTSTATUS status = KsPinWaitFrame(pin_, timeoutMs, &header, frameStatus);
        return status == STATUS_SUCCESS ? header : nullptr;
    }

    TestMiniDriver driver_;
    int64_t baseline_ = 0;
    KSFILTER* filter_ = nullptr;
    KSPIN* pin_ = nullptr;
};

TEST_F(KsFrames, FramesComeBackInOrderThroughTheLeadingEdge) {
    std::vector<KSSTREAM_POINTER> seen;
    std::vector<bool> offsetIsOut;
    driver_.process = [&](KSPIN* pin) {
        KSSTREAM_POINTER* pointer =
            KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
        if (!pointer) return STATUS_PENDING;
        seen.push_back(*pointer);
        offsetIsOut.push_back(pointer->Offset == &pointer->OffsetOut);
        pointer->StreamHeader->DataUsed = 100 + static_cast<uint32_t>(seen.size());
        KsStreamPointerUnlock(pointer, true);
        return STATUS_PENDING;
    };
    ASSERT_EQ(KsPinChangeState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
    std::deque<TestFrame> frames;
    frames.emplace_back(kTestImageBytes, true);
    frames.emplace_back(kTestImageBytes + 64, false);
    frames.emplace_back(kTestImageBytes, true);
    for (auto& frame : frames) ASSERT_EQ(KsPinQueueFrame(pin_, frame.Header()), STATUS_PENDING);

    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        KsPinAttemptProcessing(pin_, true);
        NTSTATUS frameStatus = STATUS_UNSUCCESSFUL;
        KSSTREAM_HEADER* header = Next(&frameStatus);
        ASSERT_EQ(header, frames[i].Header());
        EXPECT_EQ(frameStatus, STATUS_SUCCESS);
        EXPECT_EQ(header->DataUsed, 101 + i);
        const KSSTREAM_POINTER& pointer = seen[i];
        EXPECT_EQ(pointer.Pin, pin_);
        EXPECT_EQ(pointer.StreamHeader, header);
        EXPECT_TRUE(offsetIsOut[i]);
        EXPECT_EQ(pointer.OffsetOut.Data, frames[i].data.data());
        EXPECT_EQ(pointer.OffsetOut.Count, frames[i].data.size());
        EXPECT_EQ(pointer.OffsetOut.Remaining, frames[i].data.size());
    }
    // Nothing is left to come back.
    NTSTATUS frameStatus;
    EXPECT_EQ(Next(&frameStatus, 0), nullptr);
}

TEST_F(KsFrames, StopGivesQueuedFramesBackCancelled) {
    struct Case {
        KSSTATE from, to;
        bool cancelled;
    } cases[] = {
        {KSSTATE_ACQUIRE, KSSTATE_STOP, true},
        {KSSTATE_RUN, KSSTATE_STOP, true},
        {KSSTATE_RUN, KSSTATE_ACQUIRE, false},
        {KSSTATE_PAUSE, KSSTATE_ACQUIRE, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
        ASSERT_EQ(KsPinChangeState(pin_, KSSTATE_STOP), STATUS_SUCCESS);
        NTSTATUS frameStatus;
        while (Next(&frameStatus, 0)) {
        }
        ASSERT_EQ(KsPinChangeState(pin_, c.from), STATUS_SUCCESS);
        std::deque<TestFrame> frames(3);
        for (auto& frame : frames) {
            frame.Header()->DataUsed = 77;
            ASSERT_EQ(KsPinQueueFrame(pin_, frame.Header()), STATUS_PENDING);
        }
        ASSERT_EQ(KsPinChangeState(pin_, c.to), STATUS_SUCCESS);
        if (!c.cancelled) {
            EXPECT_EQ(Next(&frameStatus, 0), nullptr);
            ASSERT_EQ(KsPinChangeState(pin_, KSSTATE_STOP), STATUS_SUCCESS);
        }
        for (auto& frame : frames) {
            EXPECT_EQ(Next(&frameStatus), frame.Header());
            EXPECT_EQ(frameStatus, STATUS_CANCELLED);
            EXPECT_EQ(frame.Header()->DataUsed, 0u);
        }
    }
}

TEST_F(KsFrames, UnusableFramesAreRefused) {
    struct Case {
        const char* name;
        KSSTATE state;
        uint32_t headerSize;
        uint32_t bytes;
        bool nullData;
        NTSTATUS expected;
    } cases[] = {
        {"stopped pin", KSSTATE_STOP, 56, kTestImageBytes, false, STATUS_INVALID_DEVICE_STATE},
        {"header below 56 bytes", KSSTATE_RUN, 48, kTestImageBytes, false,
         STATUS_INVALID_PARAMETER},
        {"header size not a multiple of 8", KSSTATE_RUN, 60, kTestImageBytes, false,
         STATUS_INVALID_PARAMETER},
        {"no data buffer", KSSTATE_RUN, 56, kTestImageBytes, true, STATUS_INVALID_PARAMETER},
        {"smaller than the framing", KSSTATE_RUN, 56, kTestImageBytes - 1, false,
         STATUS_BUFFER_TOO_SMALL},
        {"one image", KSSTATE_PAUSE, 128, kTestImageBytes, false, STATUS_PENDING},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(KsPinChangeState(pin_, c.state), STATUS_SUCCESS);
        TestFrame frame(c.bytes);
        frame.Header()->Size = c.headerSize;
        if (c.nullData) frame.Header()->Data = nullptr;
        EXPECT_EQ(KsPinQueueFrame(pin_, frame.Header()), c.expected);
        ASSERT_EQ(KsPinChangeState(pin_, KSSTATE_STOP), STATUS_SUCCESS);
        NTSTATUS frameStatus;
        while (Next(&frameStatus, 0)) {
        }
    }
}

// A pass is held while the pin closes with frames queued and more passes asked for: the close
// waits for the pass, runs no other, and leaves nothing behind.
TEST_F(KsFrames, CloseWithFramesQueuedAndPassesPendingEndsCleanly) {
    KEVENT entered, release;
    std::atomic<bool> closed{false};
    std::atomic<int> passesAfterClose{0};
    driver_.process = [&](KSPIN* pin) {
        if (closed) passesAfterClose++;
        if (++driver_.passes == 1) {
            KeSetEvent(&entered);
            KeWaitForSingleObject(&release, nullptr);
        }
        KSSTREAM_POINTER* pointer =
            KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
        if (pointer) KsStreamPointerUnlock(pointer, true);
        return STATUS_PENDING;
    };
    ASSERT_EQ(KsPinChangeState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
    std::deque<TestFrame> frames(4);
    for (auto& frame : frames) ASSERT_EQ(KsPinQueueFrame(pin_, frame.Header()), STATUS_PENDING);
    KsPinAttemptProcessing(pin_, true);
    KeWaitForSingleObject(&entered, nullptr);
    KsPinAttemptProcessing(pin_, true);
    KsPinAttemptProcessing(pin_, true);
    std::thread closer([&] {
        KsClosePin(pin_);
        closed = true;
    });
    KeSetEvent(&release);
    closer.join();
    pin_ = nullptr;
    EXPECT_EQ(passesAfterClose, 0);
    // The requests made during the first pass give at most one more, whether the close came
    // before it or after.
    EXPECT_LE(driver_.passes, 2);
    EXPECT_EQ(driver_.calls.back(), "pin close");
}

TEST_F(KsFrames, ReferenceClockStartsWithTheRunAndOnlyRises) {
    IKsReferenceClock* clock = nullptr;
    ASSERT_EQ(KsPinGetReferenceClockInterface(pin_, &clock), STATUS_SUCCESS);
    ASSERT_NE(clock, nullptr);
    EXPECT_EQ(clock->GetTime(), 0);  // the graph has not run yet
    ASSERT_EQ(KsPinChangeState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
    int64_t systemTime = 0;
    int64_t previous = clock->GetCorrelatedTime(&systemTime);
    EXPECT_GE(previous, 0);
    EXPECT_GT(systemTime, 0);
    for (int i = 0; i < 1000; ++i) {
        int64_t now = clock->GetTime();
        ASSERT_GE(now, previous);
        previous = now;
    }
    // A second run does not restart it.
    ASSERT_EQ(KsPinChangeState(pin_, KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(KsPinChangeState(pin_, KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_GE(clock->GetTime(), previous);
    // The reference outlives the pin.
    KsClosePin(pin_);
    pin_ = nullptr;
    EXPECT_GE(clock->GetTime(), previous);
    clock->Release();
}

TEST_F(KsFrames, APinCreatedWithoutAClockHasNone) {
    KsClosePin(pin_);
    KS_DATAFORMAT_VIDEOINFOHEADER format = TestMiniDriver::Format();
    ASSERT_EQ(KsCreatePin(filter_, 0, &format.DataFormat, sizeof format, false, &pin_),
              STATUS_SUCCESS);
    IKsReferenceClock* clock = reinterpret_cast<IKsReferenceClock*>(1);
    EXPECT_EQ(KsPinGetReferenceClockInterface(pin_, &clock), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(clock, nullptr);
}

}  // namespace
}  // namespace bayercam::test
