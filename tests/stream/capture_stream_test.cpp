#include <gtest/gtest.h>

#include <vector>

#include "camera/camera_geometry.h"
#include "platform/ks/ks_filter_impl.h"
#include "platform/ks/ks_processing.h"
#include "stream_fixture.h"

namespace bayercam::test {
namespace {

// A guard against a hang, far beyond what any frame here takes.
constexpr uint32_t kGuardMs = 20000;

class CaptureStreamTest : public StreamFixture {
  protected:
    void SetUp() override {
        StreamFixture::SetUp();
        SetGeometry(device(), 0, 0, 64, 16);  // small images keep thousands of frames cheap
        OpenFilter(&filter_);
        CreatePin(filter_, &pin_);
        frameBytes_ = VideoDataRange().VideoInfoHeader.bmiHeader.biSizeImage;
        frames_ = pin_.AllocateFrames(96, frameBytes_);
    }
    void TearDown() override {
        pin_.Close();
        filter_.Close();
        StreamFixture::TearDown();
    }
    const KS_DATARANGE_VIDEO& VideoDataRange() {
        return *reinterpret_cast<const KS_DATARANGE_VIDEO*>(filter_.DataRanges(0).at(0));
    }
    void QueueFrames(size_t count) {
        for (size_t i = 0; i < count; ++i) ASSERT_TRUE(pin_.Queue(frames_.at(i)).ok());
    }
    client::Frame* Wait() {
        client::Frame* frame = nullptr;
        client::Status status = pin_.WaitFrame(kGuardMs, &frame);
        EXPECT_TRUE(status.ok()) << status.message;
        return frame ? frame : &missing_;
    }
    int64_t PictureNumber(const client::Frame* frame) { return frame->FrameInfo()->PictureNumber; }
    bool NothingMoreCompletes() {
        client::Frame* frame = nullptr;
        return pin_.WaitFrame(0, &frame).code == STATUS_TIMEOUT;
    }

    client::Filter filter_;
    client::Pin pin_;
    uint32_t frameBytes_ = 0;
    std::vector<client::Frame*> frames_;
    client::Frame missing_{0, true};  // stands in for a frame that never came
};

TEST_F(CaptureStreamTest, EveryQueuedFrameIsDeliveredOnce) {
    fake_.SetMode(ReadMode::Free);
    for (size_t queued = 1; queued <= 89; ++queued) {
        SCOPED_TRACE(queued);
        ASSERT_TRUE(pin_.SetState(KSSTATE_PAUSE).ok());
        QueueFrames(queued);
        ASSERT_TRUE(pin_.SetState(KSSTATE_RUN).ok());
        int64_t last = 0;
        for (size_t i = 0; i < queued; ++i) {
            client::Frame* frame = Wait();
            ASSERT_NE(frame, nullptr);
            ASSERT_EQ(frame->Completion(), STATUS_SUCCESS);
            // A pass that finds its raw frame already taken completes the frame empty.
            if (frame->Header().DataUsed == 0) continue;
            ASSERT_EQ(frame->Header().DataUsed, frameBytes_);
            // Numbers count announced frames at the pass: two passes may see the same count.
            ASSERT_GE(PictureNumber(frame), last);
            last = PictureNumber(frame);
        }
        ASSERT_TRUE(pin_.SetState(KSSTATE_STOP).ok());
        ASSERT_TRUE(NothingMoreCompletes());
    }
}

TEST_F(CaptureStreamTest, EachStartIsAFreshStream) {
    for (int cycle = 1; cycle <= 3; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_TRUE(pin_.SetState(KSSTATE_PAUSE).ok());
        QueueFrames(2);
        ASSERT_TRUE(pin_.SetState(KSSTATE_RUN).ok());
        for (int64_t number = 1; number <= 2; ++number) {
            fake_.Release(1);
            client::Frame* frame = Wait();
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(PictureNumber(frame), number);
        }
        ASSERT_TRUE(pin_.SetState(KSSTATE_STOP).ok());
        EXPECT_EQ(fake_.startCaptures(), cycle);
        EXPECT_EQ(context()->captureThread, nullptr);
    }
}

TEST_F(CaptureStreamTest, AStopGivesBackTheFramesStillQueued) {
    ASSERT_TRUE(pin_.SetState(KSSTATE_PAUSE).ok());
    QueueFrames(5);
    ASSERT_TRUE(pin_.SetState(KSSTATE_RUN).ok());
    for (int i = 0; i < 2; ++i) {
        fake_.Release(1);
        ASSERT_EQ(Wait()->Completion(), STATUS_SUCCESS);
    }
    ASSERT_TRUE(pin_.SetState(KSSTATE_STOP).ok());
    for (int i = 0; i < 3; ++i) {
        client::Frame* frame = Wait();
        EXPECT_EQ(frame->Completion(), STATUS_CANCELLED);
        EXPECT_EQ(frame->Header().DataUsed, 0u);
    }
    EXPECT_TRUE(NothingMoreCompletes());
}

TEST_F(CaptureStreamTest, PauseAndResumeKeepCounting) {
    ASSERT_TRUE(pin_.SetState(KSSTATE_PAUSE).ok());
    QueueFrames(4);
    ASSERT_TRUE(pin_.SetState(KSSTATE_RUN).ok());
    int64_t expected = 1;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 2; ++i) {
            fake_.Release(1);
            EXPECT_EQ(PictureNumber(Wait()), expected++);
        }
        // Pausing cancels the read waiting for the next frame; resuming starts a new one.
        ASSERT_TRUE(pin_.SetState(KSSTATE_PAUSE).ok());
        EXPECT_EQ(context()->streamState.load(), StreamState::Paused);
        EXPECT_EQ(context()->framesCaptured.load(), expected - 1);
        ASSERT_TRUE(pin_.SetState(KSSTATE_RUN).ok());
    }
    EXPECT_EQ(fake_.startCaptures(), 1);
}

TEST_F(CaptureStreamTest, FramesOverwrittenBeforeTheirConversionAreDropCounted) {
    ASSERT_TRUE(pin_.SetState(KSSTATE_PAUSE).ok());
    QueueFrames(2);
    ASSERT_TRUE(pin_.SetState(KSSTATE_RUN).ok());
    KsPinDisableProcessing(pin_.Object());  // as a class driver too busy to process
    // Nothing converts: reads 1 and 2 fill both buffers, 3 and 4 each overwrite a full one.
    fake_.Release(3);
    fake_.WaitReadsStarted(4);
    KsPinEnableProcessing(pin_.Object(), true);
    const KS_FRAME_INFO* info = Wait()->FrameInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->PictureNumber, 3);
    EXPECT_EQ(info->DropCount, 2);
    // A new stream starts counting again.
    ASSERT_TRUE(pin_.SetState(KSSTATE_ACQUIRE).ok());
    ASSERT_TRUE(pin_.SetState(KSSTATE_RUN).ok());
    fake_.Release(1);
    info = Wait()->FrameInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->PictureNumber, 1);
    EXPECT_EQ(info->DropCount, 0);
}

TEST_F(CaptureStreamTest, FramesConvertedWithoutAClientFrameCountInPictureAndDropCounts) {
    ASSERT_TRUE(pin_.SetState(KSSTATE_PAUSE).ok());
    QueueFrames(1);
    ASSERT_TRUE(pin_.SetState(KSSTATE_RUN).ok());
    fake_.Release(1);
    EXPECT_EQ(PictureNumber(Wait()), 1);
    // Two frames with no client frame waiting: converted and lost.
    for (int read = 3; read <= 4; ++read) {
        fake_.Release(1);
        fake_.WaitReadsStarted(read);
        KsPinWaitProcessingIdle(pin_.Object());
    }
    ASSERT_TRUE(pin_.Queue(frames_.at(1)).ok());
    fake_.Release(1);
    const KS_FRAME_INFO* info = Wait()->FrameInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->PictureNumber, 4);
    EXPECT_EQ(info->DropCount, 2);
}

}  // namespace
}  // namespace bayercam::test
