#include <gtest/gtest.h>

#include "camera/camera_geometry.h"
#include "imaging/image_processor.h"
#include "platform/kernel/pool.h"
#include "stream/capture_descriptors.h"
#include "stream/video_data_range.h"
#include "stream_fixture.h"

namespace bayercam::test {
namespace {

constexpr KSSTATE S = KSSTATE_STOP, A = KSSTATE_ACQUIRE, P = KSSTATE_PAUSE, R = KSSTATE_RUN;

// What a state change leaves behind, on the device, the capture record and the pin.
struct Observed {
    int formatBusy;
    bool processor;
    int streamState;
    bool buffers;
    bool thread;
    uint32_t runState;
    int startCaptures;
    bool operator==(const Observed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Observed& o) {
    return out << "{busy " << o.formatBusy << ", processor " << o.processor << ", streamState "
               << o.streamState << ", buffers " << o.buffers << ", thread " << o.thread
               << ", runState " << o.runState << ", startCaptures " << o.startCaptures << "}";
}

class PinStateTest : public StreamFixture {
  protected:
    Observed Observe(const client::Pin& pin) {
        CaptureContext* c = context();
        return {device()->formatBusy.load(),
                device()->imageProcessor.load() != nullptr,
                static_cast<int>(c->streamState.load()),
                c->rawBuffer[0] && c->rawBuffer[1] && c->outputBuffer,
                c->captureThread != nullptr,
                static_cast<uint32_t>(PinRecord(pin)->runState),
                fake_.startCaptures()};
    }
};

TEST_F(PinStateTest, EveryTransitionDoesItsShareOfTheStream) {
    client::Filter filter;
    OpenFilter(&filter);
    client::Pin pin;
    CreatePin(filter, &pin);
    struct Step {
        KSSTATE to;
        Observed after;
    } steps[] = {
        {A, {1, true, 0, false, false, 0, 0}},  // claims the device, makes the processor
        {P, {1, true, 0, false, false, 0, 0}},  // nothing yet
        {R, {1, true, 2, true, true, 2, 1}},    // first run: buffers, thread, camera programmed
        {P, {1, true, 1, true, false, 1, 1}},   // thread stopped, buffers kept
        {R, {1, true, 2, true, true, 2, 1}},    // resumed without programming the camera again
        {P, {1, true, 1, true, false, 1, 1}},
        {A, {1, true, 0, false, false, 0, 1}},  // buffers freed, processor kept
        {P, {1, true, 0, false, false, 0, 1}},
        {R, {1, true, 2, true, true, 2, 2}},  // a new stream
        {P, {1, true, 1, true, false, 1, 2}},
        {A, {1, true, 0, false, false, 0, 2}},
        {S, {0, false, 0, false, false, 0, 2}},  // device free again
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(::testing::Message() << pin.State() << " -> " << step.to);
        client::Status status = pin.SetState(step.to);
        ASSERT_TRUE(status.ok()) << status.message;
        EXPECT_EQ(Observe(pin), step.after);
    }
}

TEST_F(PinStateTest, AcquireTakesTheClockAndStopGivesEverythingBack) {
    client::Filter filter;
    OpenFilter(&filter);
    for (bool clock : {true, false}) {
        SCOPED_TRACE(clock ? "with a clock" : "without a clock");
        client::Pin pin;
        CreatePin(filter, &pin, clock);
        CapturePin* record = PinRecord(pin);
        ASSERT_TRUE(pin.SetState(A).ok());
        EXPECT_EQ(record->acquired, 1);
        EXPECT_EQ(record->referenceClock != nullptr, clock);
        EXPECT_EQ(device()->frameSink.load(), record);
        EXPECT_EQ(device()->dataFormat, &record->videoInfo);
        ASSERT_TRUE(pin.SetState(R).ok());
        ASSERT_TRUE(pin.SetState(S).ok());
        EXPECT_EQ(record->acquired, 0);
        EXPECT_EQ(record->referenceClock, nullptr);
        EXPECT_EQ(device()->frameSink.load(), nullptr);
        EXPECT_EQ(device()->dataFormat, nullptr);
        EXPECT_EQ(context()->rawBuffer[0], nullptr);
    }
}

TEST_F(PinStateTest, RefusedCallsReportTheirStatusAndChangeNothing) {
    client::Filter first;
    OpenFilter(&first);
    client::Filter second;
    OpenFilter(&second);
    client::Pin running;
    CreatePin(first, &running);
    ASSERT_TRUE(running.SetState(R).ok());
    client::Pin other;
    CreatePin(second, &other);

    // One stream per device: the second filter's pin cannot acquire.
    EXPECT_EQ(other.SetState(A).code, STATUS_SHARING_VIOLATION);
    EXPECT_EQ(other.State(), S);
    EXPECT_EQ(PinRecord(other)->acquired, 0);
    EXPECT_EQ(context()->streamState.load(), StreamState::Running);
    EXPECT_EQ(device()->frameSink.load(), PinRecord(running));

    // Format changes only in stop.
    std::vector<uint8_t> format = OfferedFormat(first);
    KS_VIDEOINFOHEADER before = PinRecord(running)->videoInfo;
    for (KSSTATE state : {R, P, A}) {
        ASSERT_TRUE(running.SetState(state).ok());
        EXPECT_EQ(running.SetFormat(format.data(), uint32_t(format.size())).code,
                  STATUS_INVALID_DEVICE_STATE)
            << state;
        EXPECT_EQ(std::memcmp(&PinRecord(running)->videoInfo, &before, sizeof before), 0);
    }
    ASSERT_TRUE(running.SetState(S).ok());
    EXPECT_TRUE(other.SetState(A).ok()) << "the device is free once the first pin stops";
}

TEST_F(PinStateTest, NonRgb32FormatIsRefusedAtAcquireAndLeavesTheDeviceFree) {
    client::Filter filter;
    OpenFilter(&filter);
    KS_DATAFORMAT_VIDEOINFOHEADER format = AsVideoFormat(OfferedFormat(filter));
    struct Case {
        uint16_t bitCount;
    } cases[] = {{24}, {16}, {8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bitCount);
        KS_DATAFORMAT_VIDEOINFOHEADER odd = format;
        odd.VideoInfoHeader.bmiHeader.biBitCount = c.bitCount;
        client::Pin pin;
        ASSERT_TRUE(pin.Create(filter, 0, &odd, sizeof odd).ok());
        EXPECT_EQ(pin.SetState(A).code, STATUS_INVALID_PARAMETER);
        EXPECT_EQ(pin.State(), S);
        EXPECT_EQ(device()->formatBusy.load(), 0);
        EXPECT_EQ(device()->imageProcessor.load(), nullptr);
        EXPECT_EQ(device()->frameSink.load(), nullptr);
    }
    client::Pin good;
    CreatePin(filter, &good);
    EXPECT_TRUE(good.SetState(A).ok());
}

TEST_F(PinStateTest, AFailedFirstRunLeavesNothingAllocatedAndTheStateAsItWas) {
    client::Filter filter;
    OpenFilter(&filter);
    client::Pin pin;
    CreatePin(filter, &pin);
    ASSERT_TRUE(pin.SetState(P).ok());
    const int64_t before = pool::LiveAllocations();
    // The two raw buffers and the output buffer, failed in turn.
    for (uint64_t n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        pool::FailNth(n);
        EXPECT_EQ(pin.SetState(R).code, STATUS_INSUFFICIENT_RESOURCES);
        pool::Reset();
        EXPECT_EQ(pin.State(), P);
        EXPECT_EQ(PinRecord(pin)->runState, RunState::NoStream);
        EXPECT_EQ(context()->streamState.load(), StreamState::Stopped);
        EXPECT_EQ(context()->rawBuffer[0], nullptr);
        EXPECT_EQ(context()->rawBuffer[1], nullptr);
        EXPECT_EQ(context()->outputBuffer, nullptr);
        EXPECT_EQ(pool::LiveAllocations(), before);
    }
    EXPECT_TRUE(pin.SetState(R).ok());
}

TEST_F(PinStateTest, ACameraThatCouldNotBeProgrammedIsNotStreamedFrom) {
    client::Filter filter;
    OpenFilter(&filter);
    client::Pin pin;
    CreatePin(filter, &pin);
    fake_.configure = false;
    EXPECT_EQ(pin.SetState(R).code, STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(context()->rawBuffer[0], nullptr);
    EXPECT_EQ(context()->captureThread, nullptr);
}

TEST_F(PinStateTest, GeometryStaysLockedWhileAnyPinExists) {
    client::Filter first;
    OpenFilter(&first);
    client::Filter second;
    OpenFilter(&second);
    auto roiWidth = [&] { return device()->roiW.load(); };
    {
        client::Pin a;
        CreatePin(first, &a);
        {
            client::Pin b;
            CreatePin(second, &b);
            EXPECT_EQ(device()->geometryLocked.load(), 2);
        }
        // Closing one pin leaves the other's geometry alone.
        SetGeometry(device(), 0, 0, 640, 480);
        EXPECT_EQ(roiWidth(), kSensorWidth);
        EXPECT_EQ(device()->captureDescriptors->videoDataRange.VideoInfoHeader.bmiHeader.biWidth,
                  kSensorWidth);
    }
    EXPECT_EQ(device()->geometryLocked.load(), 0);
    SetGeometry(device(), 0, 0, 640, 480);
    EXPECT_EQ(roiWidth(), 640);
}

TEST_F(PinStateTest, AFailedPinCreationGivesItsGeometryLockBack) {
    client::Filter filter;
    OpenFilter(&filter);
    std::vector<uint8_t> format = OfferedFormat(filter);
    // The pin record, its place in the bag, the descriptor copy and the framing copy, in turn.
    for (uint64_t n = 1; n <= 12; ++n) {
        SCOPED_TRACE(n);
        client::Pin pin;
        pool::FailNth(n);
        client::Status status = pin.Create(filter, 0, format.data(), uint32_t(format.size()));
        pool::Reset();
        EXPECT_EQ(device()->geometryLocked.load(), status.ok() ? 1 : 0);
    }
    EXPECT_EQ(device()->geometryLocked.load(), 0);
}

}  // namespace
}  // namespace bayercam::test
