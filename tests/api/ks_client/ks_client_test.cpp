#include <gtest/gtest.h>

#include <cstring>

#include "bayercam/client.h"
#include "platform/kernel/pool.h"
#include "platform/ks/ks_clock.h"
#include "platform/ks/ks_processing.h"
#include "support/ks_test_minidriver.h"
#include "support/leak_check.h"

namespace bayercam::test {
namespace {

using client::Filter;
using client::Frame;
using client::Pin;
using client::Status;

constexpr uint32_t kNoHangMs = 10'000;

struct ValueRecord {
    KSPROPERTY property;
    uint32_t value;
    uint32_t pad;
};

class KsClient : public testing::LeakCheckedTest<> {
  protected:
    // Opens the filter and a pin with the format the pin's own range intersects to.
    void OpenPin(Filter& filter, Pin& pin, client::PinOptions options = {}) {
        ASSERT_TRUE(filter.Open(driver_.device, driver_.filterDescriptor).ok());
        std::vector<const KSDATARANGE*> ranges = filter.DataRanges(0);
        ASSERT_EQ(ranges.size(), 2u);
        std::vector<uint8_t> format;
        Status status = filter.Intersect(0, *ranges[1], &format);
        ASSERT_TRUE(status.ok()) << status.message;
        ASSERT_EQ(format.size(), sizeof(KS_DATAFORMAT_VIDEOINFOHEADER));
        status =
            pin.Create(filter, 0, format.data(), static_cast<uint32_t>(format.size()), options);
        ASSERT_TRUE(status.ok()) << status.message;
    }

    TestMiniDriver driver_;
};

TEST_F(KsClient, StreamsFramesFromRunToStop) {
    Filter filter;
    Pin pin;
    OpenPin(filter, pin);
    ASSERT_TRUE(pin.SetState(KSSTATE_RUN).ok());
    EXPECT_EQ(pin.State(), KSSTATE_RUN);
    std::vector<Frame*> frames = pin.AllocateFrames(3, kTestImageBytes);
    for (Frame* frame : frames) ASSERT_TRUE(pin.Queue(frame).ok());
    EXPECT_EQ(pin.Queue(frames[0]).code, STATUS_INVALID_PARAMETER);  // already queued

    KsPinAttemptProcessing(pin.Object(), true);
    Frame* done = nullptr;
    ASSERT_TRUE(pin.WaitFrame(kNoHangMs, &done).ok());
    ASSERT_EQ(done, frames[0]);
    EXPECT_EQ(done->Completion(), STATUS_SUCCESS);
    EXPECT_EQ(done->Header().DataUsed, kTestImageBytes);
    EXPECT_EQ(done->Data()[0], 1);  // written by the first pass
    EXPECT_NE(done->FrameInfo(), nullptr);

    // Stopping gives the rest back cancelled, in order.
    ASSERT_TRUE(pin.SetState(KSSTATE_STOP).ok());
    for (int i = 1; i < 3; ++i) {
        ASSERT_TRUE(pin.WaitFrame(kNoHangMs, &done).ok());
        EXPECT_EQ(done, frames[i]);
        EXPECT_EQ(done->Completion(), STATUS_CANCELLED);
    }
    Status timeout = pin.WaitFrame(0, &done);
    EXPECT_EQ(timeout.code, STATUS_TIMEOUT);
    EXPECT_FALSE(timeout.ok());
    EXPECT_EQ(done, nullptr);
    EXPECT_EQ(pin.Queue(frames[0]).code, STATUS_INVALID_DEVICE_STATE);
}

TEST_F(KsClient, FailuresCarryTheStatusAndWhatWasBeingDone) {
    Filter filter;
    Pin pin;
    OpenPin(filter, pin);
    Pin second;
    KS_DATAFORMAT_VIDEOINFOHEADER format = TestMiniDriver::Format();
    Status status = second.Create(filter, 0, &format, sizeof format);
    EXPECT_EQ(status.code, STATUS_DEVICE_BUSY);
    EXPECT_EQ(status.message, "create pin 0: STATUS_DEVICE_BUSY");
    EXPECT_FALSE(second.IsOpen());

    driver_.failingStep = StateCall{KSSTATE_PAUSE, KSSTATE_ACQUIRE};
    status = pin.SetState(KSSTATE_RUN);
    EXPECT_EQ(status.message, "move the pin to run: STATUS_UNSUCCESSFUL");
    EXPECT_EQ(pin.State(), KSSTATE_ACQUIRE);

    EXPECT_EQ(second.SetState(KSSTATE_RUN).code, STATUS_INVALID_DEVICE_STATE);
    Filter closed;
    std::vector<uint8_t> result;
    EXPECT_EQ(closed.Intersect(0, *filter.DataRanges(0)[1], &result).code,
              STATUS_INVALID_DEVICE_STATE);
}

TEST_F(KsClient, PropertiesGoThroughTheFilter) {
    Filter filter;
    ASSERT_TRUE(filter.Open(driver_.device, driver_.filterDescriptor).ok());
    KSPROPERTY property{};
    uint32_t value = 41;
    ASSERT_TRUE(filter
                    .SetProperty(kTestPropertySet, kPropReadWrite, &property, sizeof property,
                                 &value, sizeof value)
                    .ok());
    EXPECT_EQ(driver_.propertyValue, 41u);
    value = 0;
    uint32_t returned = 0;
    ASSERT_TRUE(filter
                    .GetProperty(kTestPropertySet, kPropReadWrite, &property, sizeof property,
                                 &value, sizeof value, &returned)
                    .ok());
    EXPECT_EQ(value, 41u);
    EXPECT_EQ(returned, 4u);

    // A record that serves as both buffers gets its KSPROPERTY filled in.
    ValueRecord record{};
    ASSERT_TRUE(filter.GetProperty(kTestPropertySet, kPropLarge, &record).ok());
    EXPECT_EQ(record.property.Set, kTestPropertySet);
    EXPECT_EQ(record.property.Id, kPropLarge);
    EXPECT_EQ(record.property.Flags, KSPROPERTY_TYPE_GET);

    Status refused = filter.SetProperty(kTestPropertySet, kPropReadOnly, &record);
    EXPECT_EQ(refused.code, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(refused.message,
              "set property 1F0C2A55-3B7E-4C11-9A20-5D610E427713 1: "
              "STATUS_INVALID_DEVICE_REQUEST");
}

TEST_F(KsClient, TheFilterClosesAfterItsLastPin) {
    Filter filter;
    Pin pin;
    OpenPin(filter, pin);
    ASSERT_TRUE(pin.SetState(KSSTATE_PAUSE).ok());
    pin.AllocateFrames(2, kTestImageBytes);
    filter.Close();
    EXPECT_FALSE(filter.IsOpen());
    EXPECT_EQ(driver_.calls.back(), "pin create");  // still open under the pin

    Pin moved = std::move(pin);
    EXPECT_FALSE(pin.IsOpen());
    EXPECT_TRUE(moved.IsOpen());
    EXPECT_TRUE(moved.Close().ok());
    EXPECT_EQ(driver_.calls, (std::vector<std::string>{"filter create", "pin format", "pin create",
                                                       "pin close", "filter close"}));
}

}  // namespace
}  // namespace bayercam::test
