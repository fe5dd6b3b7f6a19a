#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "platform/kernel/pool.h"
#include "platform/ks/ks_edit.h"
#include "platform/ks/ks_filter.h"
#include "platform/ks/ks_pin.h"
#include "support/ks_test_minidriver.h"
#include "support/leak_check.h"

namespace bayercam::test {
namespace {

using Calls = std::vector<std::string>;

class KsObjects : public testing::LeakCheckedTest<> {
  protected:
    void SetUp() override {
        pool::Reset();
        LeakCheckedTest::SetUp();
    }

    KSFILTER* OpenFilter() {
        KSFILTER* filter = nullptr;
        EXPECT_EQ(KsCreateFilter(&driver_.device, &driver_.filterDescriptor, &filter),
                  STATUS_SUCCESS);
        return filter;
    }

    NTSTATUS CreatePin(KSFILTER* filter, KSPIN** pin) {
        KS_DATAFORMAT_VIDEOINFOHEADER format = TestMiniDriver::Format();
        return KsCreatePin(filter, 0, &format.DataFormat, sizeof format, true, pin);
    }

    TestMiniDriver driver_;
};

TEST_F(KsObjects, FilterCreateGivesTheMinidriverItsFilterDeviceAndRequest) {
    KSFILTER* filter = OpenFilter();
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(driver_.createdFilter, filter);
    EXPECT_NE(filter->Context, nullptr);
    EXPECT_EQ(filter->Descriptor, &driver_.filterDescriptor);
    EXPECT_EQ(KsGetDevice(filter), &driver_.device);
    EXPECT_EQ(KsCloseFilter(filter), STATUS_SUCCESS);
    EXPECT_EQ(driver_.calls, (Calls{"filter create", "filter close"}));
    EXPECT_TRUE(driver_.irpLedToFilter);
    EXPECT_TRUE(driver_.objectsLedToDevice);
}

TEST_F(KsObjects, FailedFilterCreateLeavesNothing) {
    driver_.filterCreateStatus = STATUS_ACCESS_DENIED;
    KSFILTER* filter = reinterpret_cast<KSFILTER*>(1);
    EXPECT_EQ(KsCreateFilter(&driver_.device, &driver_.filterDescriptor, &filter),
              STATUS_ACCESS_DENIED);
    EXPECT_EQ(filter, nullptr);
    EXPECT_EQ(driver_.calls, (Calls{"filter create"}));  // the context went with the bag
}

struct PinCreateCase {
    const char* name;
    std::function<void(KS_DATAFORMAT_VIDEOINFOHEADER&)> change;
    uint32_t bufferBytes;  // 0: the whole format
    uint32_t pinId;
    NTSTATUS expected;
    int rangeIndex;  // the range SetDataFormat sees; -1: not called
};

TEST_F(KsObjects, PinCreateMatchesTheFormatAgainstTheRangesFirst) {
    const PinCreateCase cases[] = {
        {"matches the RGB32 range", [](auto&) {}, 0, 0, STATUS_SUCCESS, 1},
        {"matches the other range", [](auto& f) { f.DataFormat.SubFormat = kOtherSubFormat; }, 0, 0,
         STATUS_SUCCESS, 0},
        {"unknown pin", [](auto&) {}, 0, 1, STATUS_INVALID_PARAMETER, -1},
        {"major format differs",
         [](auto& f) { f.DataFormat.MajorFormat = KSDATAFORMAT_SPECIFIER_VIDEOINFO; }, 0, 0,
         STATUS_NO_MATCH, -1},
        {"subformat in no range", [](auto& f) { f.DataFormat.SubFormat = KSNAME_Filter; }, 0, 0,
         STATUS_NO_MATCH, -1},
        {"specifier differs", [](auto& f) { f.DataFormat.Specifier = GUID_NULL; }, 0, 0,
         STATUS_NO_MATCH, -1},
        {"FormatSize below the header", [](auto& f) { f.DataFormat.FormatSize = 63; }, 0, 0,
         STATUS_INVALID_PARAMETER, -1},
        {"FormatSize past the buffer", [](auto&) {}, 151, 0, STATUS_INVALID_PARAMETER, -1},
        {"buffer below the header", [](auto& f) { f.DataFormat.FormatSize = 60; }, 60, 0,
         STATUS_INVALID_PARAMETER, -1},
    };
    KSFILTER* filter = OpenFilter();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        driver_.ClearRecords();
        driver_.setFormatRange = nullptr;
        KS_DATAFORMAT_VIDEOINFOHEADER format = TestMiniDriver::Format();
        c.change(format);
        KSPIN* pin = nullptr;
        NTSTATUS status = KsCreatePin(filter, c.pinId, &format.DataFormat,
                                      c.bufferBytes ? c.bufferBytes : sizeof format, true, &pin);
        EXPECT_EQ(status, c.expected);
        if (c.rangeIndex < 0) {
            EXPECT_TRUE(driver_.calls.empty());
            EXPECT_EQ(pin, nullptr);
            continue;
        }
        EXPECT_EQ(driver_.setFormatRange, driver_.ranges[c.rangeIndex]);
        EXPECT_EQ(driver_.calls, (Calls{"pin format", "pin create"}));
        ASSERT_NE(pin, nullptr);
        // The connection format is the pin's own copy.
        EXPECT_NE(pin->ConnectionFormat, &format.DataFormat);
        EXPECT_EQ(std::memcmp(pin->ConnectionFormat, &format, sizeof format), 0);
        EXPECT_EQ(pin->DeviceState, KSSTATE_STOP);
        EXPECT_EQ(pin->DataFlow, KSPIN_DATAFLOW_OUT);
        EXPECT_EQ(KsPinGetParentFilter(pin), filter);
        EXPECT_EQ(KsGetDevice(pin), &driver_.device);
        EXPECT_EQ(KsClosePin(pin), STATUS_SUCCESS);
    }
    KsCloseFilter(filter);
    EXPECT_TRUE(driver_.irpLedToFilter);
    EXPECT_TRUE(driver_.objectsLedToDevice);
}

TEST_F(KsObjects, OnlyInstancesPossiblePinsAtATime) {
    KSFILTER* filter = OpenFilter();
    KSPIN* first = nullptr;
    KSPIN* second = nullptr;
    ASSERT_EQ(CreatePin(filter, &first), STATUS_SUCCESS);
    driver_.ClearRecords();
    EXPECT_EQ(CreatePin(filter, &second), STATUS_DEVICE_BUSY);
    EXPECT_EQ(second, nullptr);
    EXPECT_TRUE(driver_.calls.empty());
    EXPECT_EQ(KsFilterGetChildPinCount(filter, 0), 1u);
    KsClosePin(first);
    EXPECT_EQ(KsFilterGetChildPinCount(filter, 0), 0u);
    EXPECT_EQ(CreatePin(filter, &second), STATUS_SUCCESS);
    KsClosePin(second);
    KsCloseFilter(filter);
}

TEST_F(KsObjects, RefusedPinCreateLeavesNoPinBehind) {
    struct Case {
        const char* name;
        NTSTATUS setFormat;
        NTSTATUS create;
        Calls calls;
    } cases[] = {
        {"format refused", STATUS_NO_MATCH, STATUS_SUCCESS, {"pin format"}},
        {"create refused",
         STATUS_SUCCESS,
         STATUS_INSUFFICIENT_RESOURCES,
         {"pin format", "pin create"}},
    };
    KSFILTER* filter = OpenFilter();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        driver_.ClearRecords();
        driver_.setFormatStatus = c.setFormat;
        driver_.pinCreateStatus = c.create;
        KSPIN* pin = nullptr;
        EXPECT_EQ(CreatePin(filter, &pin), NT_SUCCESS(c.setFormat) ? c.create : c.setFormat);
        EXPECT_EQ(pin, nullptr);
        EXPECT_EQ(driver_.calls, c.calls);  // and no close for a pin that never was
        EXPECT_EQ(KsFilterGetChildPinCount(filter, 0), 0u);
    }
    KsCloseFilter(filter);
}

TEST_F(KsObjects, KsEditGivesThePinItsOwnDescriptorAndFraming) {
    KSFILTER* filter = OpenFilter();
    KSPIN* pin = nullptr;
    ASSERT_EQ(CreatePin(filter, &pin), STATUS_SUCCESS);
    // The minidriver's create edited both and sized the frames to one image.
    EXPECT_NE(pin->Descriptor, &driver_.pinDescriptor);
    EXPECT_NE(pin->Descriptor->AllocatorFraming, &driver_.framing);
    EXPECT_EQ(pin->Descriptor->AllocatorFraming->FramingItem[0].FramingRange.Range.MinFrameSize,
              kTestImageBytes);
    EXPECT_EQ(driver_.framing.FramingItem[0].FramingRange.Range.MinFrameSize, 0x2000u);
    EXPECT_EQ(pin->Descriptor->Dispatch, &driver_.pinDispatch);

    const KSPIN_DESCRIPTOR_EX* edited = pin->Descriptor;
    EXPECT_EQ(KsEdit(pin, &pin->Descriptor), STATUS_SUCCESS);
    EXPECT_EQ(pin->Descriptor, edited);  // already the pin's own: no new copy
    // A slot that is neither the pin's nor in a block it edited is not writable.
    EXPECT_EQ(KsEdit(pin, &driver_.pinDescriptor.AllocatorFraming), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(driver_.pinDescriptor.AllocatorFraming, &driver_.framing);

    KSFILTER_DESCRIPTOR* own = nullptr;
    EXPECT_EQ(KsEdit(filter, &filter->Descriptor, &own), STATUS_SUCCESS);
    EXPECT_EQ(filter->Descriptor, own);
    EXPECT_NE(own, &driver_.filterDescriptor);
    EXPECT_EQ(own->AutomationTable, &driver_.automation);
    KsCloseFilter(filter);  // closes the pin too; the copies go with the bags
}

TEST_F(KsObjects, FormatChangeReplacesTheConnectionFormatOnlyWhenAccepted) {
    KSFILTER* filter = OpenFilter();
    KSPIN* pin = nullptr;
    ASSERT_EQ(CreatePin(filter, &pin), STATUS_SUCCESS);
    KS_DATAFORMAT_VIDEOINFOHEADER wider = TestMiniDriver::Format();
    wider.VideoInfoHeader.bmiHeader.biWidth = 24;

    driver_.ClearRecords();
    driver_.setFormatStatus = STATUS_INVALID_DEVICE_STATE;
    KSDATAFORMAT* before = pin->ConnectionFormat;
    EXPECT_EQ(KsPinChangeFormat(pin, &wider.DataFormat, sizeof wider), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(pin->ConnectionFormat, before);
    EXPECT_EQ(
        reinterpret_cast<KS_DATAFORMAT_VIDEOINFOHEADER*>(before)->VideoInfoHeader.bmiHeader.biWidth,
        kTestWidth);

    KS_DATAFORMAT_VIDEOINFOHEADER unmatched = wider;
    unmatched.DataFormat.SubFormat = KSNAME_Filter;
    EXPECT_EQ(KsPinChangeFormat(pin, &unmatched.DataFormat, sizeof unmatched), STATUS_NO_MATCH);
    EXPECT_EQ(KsPinChangeFormat(pin, &wider.DataFormat, sizeof wider - 1),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(driver_.calls, (Calls{"pin format change"}));

    driver_.setFormatStatus = STATUS_SUCCESS;
    EXPECT_EQ(KsPinChangeFormat(pin, &wider.DataFormat, sizeof wider), STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(pin->ConnectionFormat, &wider, sizeof wider), 0);
    KsClosePin(pin);
    KsCloseFilter(filter);
}

TEST_F(KsObjects, ClosingTheFilterClosesItsPinsFirst) {
    KSFILTER* filter = OpenFilter();
    KSPIN* pin = nullptr;
    ASSERT_EQ(CreatePin(filter, &pin), STATUS_SUCCESS);
    ASSERT_EQ(KsPinChangeState(pin, KSSTATE_RUN), STATUS_SUCCESS);
    driver_.ClearRecords();
    KsCloseFilter(filter);
    EXPECT_EQ(driver_.calls, (Calls{"pin close", "filter close"}));
    EXPECT_EQ(driver_.stateCalls.back(), (StateCall{KSSTATE_STOP, KSSTATE_ACQUIRE}));
}

// Every pool allocation made while opening a filter and a pin, failed in turn.
TEST_F(KsObjects, EveryFailedAllocationOfFilterAndPinCreateLeavesNothing) {
    for (uint64_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        pool::Reset();
        int64_t live = pool::LiveAllocations();
        pool::FailNth(n);
        KSFILTER* filter = nullptr;
        KSPIN* pin = nullptr;
        NTSTATUS status = KsCreateFilter(&driver_.device, &driver_.filterDescriptor, &filter);
        if (NT_SUCCESS(status)) status = CreatePin(filter, &pin);
        bool failed = pool::InjectedFailures() > 0;
        pool::Reset();
        EXPECT_EQ(NT_SUCCESS(status), !failed);
        if (!NT_SUCCESS(status)) {
            EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES);
        }
        if (pin) {
            // A pin that came through works, and its count was taken once.
            EXPECT_EQ(KsFilterGetChildPinCount(filter, 0), 1u);
            EXPECT_EQ(KsPinChangeState(pin, KSSTATE_RUN), STATUS_SUCCESS);
        }
        if (filter) KsCloseFilter(filter);
        EXPECT_EQ(pool::LiveAllocations(), live);
        if (!failed) {
            EXPECT_GT(n, 12u);  // every object, bag entry, copy and context was reached
            break;
        }
    }
}

}  // namespace
}  // namespace bayercam::test
