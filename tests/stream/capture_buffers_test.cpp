#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "camera/camera_geometry.h"
#include "imaging/image_processor.h"
#include "stream/region_conversion.h"
#include "stream_fixture.h"

namespace bayercam::test {
namespace {

using State = RawBufferState;

class Buffers : public ::testing::Test {
  protected:
    void Set(State first, State second) {
        context_->bufferState[0] = first;
        context_->bufferState[1] = second;
    }
    std::unique_ptr<CaptureContext> context_ = [] {
        auto context = std::make_unique<CaptureContext>();
        context->rawBuffer[0] = reinterpret_cast<uint8_t*>(0x1000);
        context->rawBuffer[1] = reinterpret_cast<uint8_t*>(0x2000);
        return context;
    }();
};

TEST_F(Buffers, TheThreadFillsAFreeBufferElseOverwritesTheFullOneNotInUseAndCountsADrop) {
    struct Case {
        State first, second;
        int chosen;
        int dropped;
    } cases[] = {
        {State::Free, State::Free, 0, 0},  {State::Full, State::Free, 1, 0},
        {State::InUse, State::Free, 1, 0}, {State::Free, State::Full, 0, 0},
        {State::Full, State::Full, 0, 1},  {State::InUse, State::Full, 1, 1},
        {State::Full, State::InUse, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.first) << ", " << int(c.second));
        Set(c.first, c.second);
        context_->framesDropped.store(0);
        EXPECT_EQ(TakeBufferToFill(context_.get()), context_->rawBuffer[c.chosen]);
        EXPECT_EQ(context_->framesDropped.load(), c.dropped);
        EXPECT_EQ(BufferState(context_.get(), c.chosen), State::Filling);
        EXPECT_EQ(BufferState(context_.get(), 1 - c.chosen), c.chosen ? c.first : c.second);
    }
}

TEST_F(Buffers, TheConversionTakesBufferZeroFirstAndOnlyAFullOne) {
    struct Case {
        State first, second;
        std::optional<int> chosen;
    } cases[] = {
        {State::Full, State::Full, 0},      {State::Free, State::Full, 1},
        {State::InUse, State::Full, 1},     {State::Full, State::Filling, 0},
        {State::Free, State::Free, {}},     {State::Filling, State::Free, {}},
        {State::Filling, State::InUse, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.first) << ", " << int(c.second));
        Set(c.first, c.second);
        uint8_t* taken = TakeBufferToConvert(context_.get());
        if (!c.chosen) {
            EXPECT_EQ(taken, nullptr);
            EXPECT_EQ(BufferState(context_.get(), 0), c.first);
            EXPECT_EQ(BufferState(context_.get(), 1), c.second);
            continue;
        }
        EXPECT_EQ(taken, context_->rawBuffer[*c.chosen]);
        EXPECT_EQ(BufferState(context_.get(), *c.chosen), State::InUse);
        FinishConvert(context_.get(), taken);
        EXPECT_EQ(BufferState(context_.get(), *c.chosen), State::Free);
    }
}

TEST(CaptureBackoff, OnlyARunOfFailuresPausesAndThePauseIsBounded) {
    const int32_t expected[] = {0, 0, 1, 2, 4, 8, 16, 32, 50, 50};
    for (int32_t failures = 0; failures < 10; ++failures)
        EXPECT_EQ(CaptureBackoffMs(failures), expected[failures]) << failures;
    EXPECT_EQ(CaptureBackoffMs(1'000'000), 50);
}

struct CountingSink final : FrameSink {
    NTSTATUS NotifyFrame() override {
        notifications++;
        return STATUS_SUCCESS;
    }
    std::atomic<int> notifications{0};
};

// The capture thread and the conversion, without a pin: the test plays the pin's part.
class CaptureThreadTest : public StreamFixture {
  protected:
    void SetUp() override {
        StreamFixture::SetUp();
        SetGeometry(device(), kRoiX, kRoiY, kRoiWidth, kRoiHeight);
    }
    void Start() {
        device()->imageProcessor.store(CreateImageProcessor(device()));
        device()->frameSink.store(&sink_);
        ASSERT_EQ(StartStream(device()), STATUS_SUCCESS);
    }
    void TearDown() override {
        TearDownStream(device());
        FreeImageProcessor(device()->imageProcessor.exchange(nullptr));
        device()->frameSink.store(nullptr);
        StreamFixture::TearDown();
    }
    // Waits for the thread to leave its loop on its own.
    void JoinThread() {
        KeWaitForThread(context()->captureThread, nullptr);
        ObDereferenceObject(context()->captureThread);
        context()->captureThread = nullptr;
    }
    State StateOf(int index) { return BufferState(context(), index); }

    static constexpr int32_t kRoiX = 100, kRoiY = 50, kRoiWidth = 64, kRoiHeight = 16;
    CountingSink sink_;
};

TEST_F(CaptureThreadTest, BufferZeroIsFilledFirstThenBufferOneWhileZeroIsFull) {
    Start();
    fake_.Release(1);
    fake_.WaitReadsStarted(2);
    std::vector<uint8_t*> buffers = fake_.ReadBuffers();
    EXPECT_EQ(buffers.at(0), context()->rawBuffer[0]);
    EXPECT_EQ(buffers.at(1), context()->rawBuffer[1]);
    EXPECT_EQ(StateOf(0), State::Full);
    EXPECT_EQ(StateOf(1), State::Filling);
    EXPECT_EQ(sink_.notifications.load(), 1);
    EXPECT_EQ(context()->framesCaptured.load(), 1);
    EXPECT_EQ(device()->frameCounter.load(), 1);
}

TEST_F(CaptureThreadTest, AReadEndingAfterTheStopIsKeptButNotAnnounced) {
    Start();
    fake_.WaitReadsStarted(1);
    context()->running.store(0);
    fake_.Release(1);
    JoinThread();
    EXPECT_EQ(StateOf(0), State::Full);
    EXPECT_EQ(sink_.notifications.load(), 0);
    EXPECT_EQ(context()->framesCaptured.load(), 1);
}

TEST_F(CaptureThreadTest, FailedReadsLeaveTheBuffersFreeAndAreNotCounted) {
    fake_.SetMode(ReadMode::Fail);
    Start();
    fake_.WaitReadsStarted(5);
    StopCaptureThread(context());
    EXPECT_EQ(StateOf(0), State::Free);
    EXPECT_EQ(StateOf(1), State::Free);
    EXPECT_EQ(context()->framesCaptured.load(), 0);
    EXPECT_EQ(sink_.notifications.load(), 0);
}

TEST_F(CaptureThreadTest, AStopCancelsTheReadInProgressInsteadOfWaitingItOut) {
    fake_.SetMode(ReadMode::Hang);
    Start();
    fake_.WaitReadsStarted(1);
    TearDownStream(device());
    EXPECT_GE(fake_.cancels(), 1);
    EXPECT_EQ(fake_.cancelledReads(), 1);
    EXPECT_GE(fake_.aborts(), 1);
    EXPECT_EQ(context()->captureThread, nullptr);
    EXPECT_EQ(context()->rawBuffer[0], nullptr);
}

TEST_F(CaptureThreadTest, ResumingFreesBothBuffersAndKeepsTheCounters) {
    Start();
    fake_.Release(2);
    fake_.WaitReadsStarted(3);  // both full; the third read overwrites buffer 0
    StopCaptureThread(context());
    context()->streamState.store(StreamState::Paused);
    EXPECT_EQ(StateOf(0), State::Free);
    EXPECT_EQ(StateOf(1), State::Full);

    context()->streamState.store(StreamState::Running);
    StartCaptureThread(context());
    fake_.WaitReadsStarted(4);
    EXPECT_EQ(StateOf(0), State::Filling);
    EXPECT_EQ(StateOf(1), State::Free) << "the frame from before the pause is dropped";
    EXPECT_EQ(context()->framesCaptured.load(), 2);
    EXPECT_EQ(device()->frameCounter.load(), 2);
}

TEST_F(CaptureThreadTest, NoConversionOnceTheStreamIsStopping) {
    Start();
    fake_.Release(1);
    fake_.WaitReadsStarted(2);
    StopCaptureThread(context());
    ASSERT_EQ(StateOf(0), State::Full);
    EXPECT_FALSE(ConvertRawFrame(context()));
    EXPECT_EQ(context()->processing.load(), 0) << "a stopped stream is not marked as processing";
    EXPECT_EQ(StateOf(0), State::Full);
}

void KeepRaw(void* context, const KSSTREAM_HEADER* frame, const RawFrameView& raw) {
    auto* seen =
        static_cast<std::vector<std::pair<const KSSTREAM_HEADER*, RawFrameView>>*>(context);
    seen->push_back({frame, raw});
}

TEST_F(CaptureThreadTest, TheConversionCutsTheRegionOutOfTheRawFrame) {
    std::vector<uint8_t> image(size_t(kSensorWidth) * kSensorHeight);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 7 + i / kSensorWidth * 13);
    fake_.SetImage(image);
    device()->colorEnable.store(0);  // grey: every output pixel is its raw sample
    Start();
    fake_.Release(1);
    fake_.WaitReadsStarted(2);

    std::vector<std::pair<const KSSTREAM_HEADER*, RawFrameView>> seen;
    KSSTREAM_HEADER frame{};
    RawFrameTap tap{&KeepRaw, &seen, &frame};
    ASSERT_TRUE(ConvertRawFrame(context(), &tap));
    EXPECT_EQ(context()->processing.load(), 1) << "until the pass ends";
    context()->processing.exchange(0);  // the pass's end
    KeSetEvent(&context()->processDone);
    EXPECT_EQ(StateOf(0), State::Free);
    for (int32_t y : {0, 7, kRoiHeight - 1})
        for (int32_t x : {0, 33, kRoiWidth - 1}) {
            uint8_t expected = image[size_t(kRoiY + y) * kSensorWidth + kRoiX + x];
            EXPECT_EQ(context()->outputBuffer[(size_t(y) * kRoiWidth + x) * 4], expected)
                << x << ", " << y;
        }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, &frame);
    EXPECT_EQ(seen[0].second.data, context()->rawBuffer[0]);
    EXPECT_EQ(seen[0].second.bytes, uint32_t(kSensorWidth * kSensorHeight));
    EXPECT_EQ(seen[0].second.stride, kSensorWidth);
    EXPECT_EQ(RoiStart(0, kSensorWidth, kRoiX, kRoiY), uint32_t(kRoiY * 1360 + kRoiX));
}

}  // namespace
}  // namespace bayercam::test
