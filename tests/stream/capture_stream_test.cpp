#include <gtest/gtest.h>

#include <vector>

#include "bayercam/video_stream.h"
#include "camera/camera_geometry.h"
#include "imaging/image_processor.h"
#include "platform/ks_processing.h"
#include "stream/frame_copy.h"
#include "stream/region_conversion.h"
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
        EXPECT_EQ(context()->streamState.load(), 1);
        EXPECT_EQ(context()->framesCaptured.load(), expected - 1);
        ASSERT_TRUE(pin_.SetState(KSSTATE_RUN).ok());
    }
    EXPECT_EQ(fake_.startCaptures(), 1);
}

TEST_F(CaptureStreamTest, PictureNumbersCountFramesConvertedWithoutAClientFrame) {
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
    EXPECT_EQ(PictureNumber(Wait()), 4);
}

TEST_F(CaptureStreamTest, DeliveredFramesMatchTheOfflineConversionOfTheirRawFrames) {
    pin_.Close();
    SetGeometry(device(), 10, 20, 1021, 40);  // output 1016 wide; odd origin rounded up
    std::vector<uint8_t> image(size_t(kSensorWidth) * kSensorHeight);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 31 / 7 + (i >> 11));
    fake_.SetImage(image);
    fake_.SetMode(ReadMode::Free);
    device()->flipH.store(1);

    client::VideoStream stream;
    client::Status status = stream.Open(filter_, {.frames = 3, .rawFrames = true});
    ASSERT_TRUE(status.ok()) << status.message;
    ASSERT_TRUE(stream.Start().ok());
    client::Frame* frame = nullptr;
    ASSERT_TRUE(stream.Next(kGuardMs, &frame).ok());
    const client::RawImage* raw = stream.Raw(*frame);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->bytes, image);

    // What an offline tool does with the raw frame: the same conversion and copy.
    CameraDevice* camera = device();
    ImageProcessor* processor = CreateImageProcessor(camera);
    const int32_t width = camera->roiW.load(), height = camera->roiH.load();
    std::vector<uint8_t> converted(size_t(width) * height * 4);
    SetFrameSize(processor, width, height);
    AllocateWorkBuffer(processor);
    processor->outputBuffer = converted.data();
    ConvertRegion(processor, raw->bytes.data(),
                  RoiStart(raw->offset, raw->stride, camera->roiX.load(), camera->roiY.load()),
                  uint32_t(raw->stride));
    FreeImageProcessor(processor);
    std::vector<uint8_t> expected(frame->Size());
    FrameCopy copy{width, height, camera->outputWidth.load(), camera->outputHeight.load(),
                   FramePitch(0, camera->outputWidth.load()), true, false};
    CopyImageToFrame(copy, converted.data(), expected.data(), uint32_t(expected.size()));
    EXPECT_EQ(width, 1021);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), frame->Data()));
    ASSERT_TRUE(stream.Stop().ok());
}

}  // namespace
}  // namespace bayercam::test
