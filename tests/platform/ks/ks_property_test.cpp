#include <gtest/gtest.h>

#include <cstring>

#include "platform/ks/ks_filter.h"
#include "platform/ks/ks_intersection.h"
#include "platform/ks/ks_property.h"
#include "support/ks_test_minidriver.h"

namespace bayercam::test {
namespace {

class KsRequests : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(KsCreateFilter(&driver_.device, &driver_.filterDescriptor, &filter_),
                  STATUS_SUCCESS);
    }
    void TearDown() override { KsCloseFilter(filter_); }

    TestMiniDriver driver_;
    KSFILTER* filter_ = nullptr;
};

// A property buffer longer than the KSPROPERTY, as some items ask for.
struct PropertyRecord {
    KSPROPERTY property;
    uint8_t extra[16];
};

TEST_F(KsRequests, PropertyRequestsAreCheckedBeforeAnyHandlerRuns) {
    struct Case {
        const char* name;
        GUID set;
        uint32_t id;
        uint32_t flags;
        uint32_t propertyBytes;
        uint32_t dataBytes;
        NTSTATUS expected;
        uint32_t returned;
    } cases[] = {
        {"unknown set", KSNAME_Filter, kPropReadWrite, KSPROPERTY_TYPE_GET, 24, 4, STATUS_NOT_FOUND,
         0},
        {"unknown id", kTestPropertySet, 9, KSPROPERTY_TYPE_GET, 24, 4, STATUS_NOT_FOUND, 0},
        {"get without a get handler", kTestPropertySet, kPropWriteOnly, KSPROPERTY_TYPE_GET, 24, 4,
         STATUS_INVALID_DEVICE_REQUEST, 0},
        {"set without a set handler", kTestPropertySet, kPropReadOnly, KSPROPERTY_TYPE_SET, 24, 4,
         STATUS_INVALID_DEVICE_REQUEST, 0},
        {"property buffer below MinProperty", kTestPropertySet, kPropLarge, KSPROPERTY_TYPE_GET, 31,
         8, STATUS_BUFFER_TOO_SMALL, 0},
        {"property buffer below a KSPROPERTY", kTestPropertySet, kPropReadWrite,
         KSPROPERTY_TYPE_GET, 20, 4, STATUS_BUFFER_TOO_SMALL, 0},
        {"data buffer below MinData", kTestPropertySet, kPropLarge, KSPROPERTY_TYPE_GET, 32, 7,
         STATUS_BUFFER_TOO_SMALL, 0},
        {"set with no data", kTestPropertySet, kPropReadWrite, KSPROPERTY_TYPE_SET, 24, 0,
         STATUS_BUFFER_TOO_SMALL, 0},
        {"get with no data asks the size", kTestPropertySet, kPropLarge, KSPROPERTY_TYPE_GET, 32, 0,
         STATUS_BUFFER_OVERFLOW, 8},
        {"neither get nor set", kTestPropertySet, kPropReadWrite, 0, 24, 4,
         STATUS_INVALID_PARAMETER, 0},
        {"get and set at once", kTestPropertySet, kPropReadWrite,
         KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET, 24, 4, STATUS_INVALID_PARAMETER, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PropertyRecord record{};
        record.property = {c.set, c.id, c.flags};
        uint8_t data[16] = {};
        uint32_t returned = 99;
        EXPECT_EQ(KsFilterProperty(filter_, &record, c.propertyBytes, c.dataBytes ? data : nullptr,
                                   c.dataBytes, &returned),
                  c.expected);
        EXPECT_EQ(returned, c.returned);
    }
    EXPECT_EQ(driver_.handlerCalls, 0);
}

TEST_F(KsRequests, HandlersFindTheFilterAndReportTheBytesReturned) {
    KSPROPERTY property{kTestPropertySet, kPropReadWrite, KSPROPERTY_TYPE_SET};
    uint32_t value = 0x1234;
    uint32_t returned = 99;
    EXPECT_EQ(
        KsFilterProperty(filter_, &property, sizeof property, &value, sizeof value, &returned),
        STATUS_SUCCESS);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(driver_.propertyValue, 0x1234u);

    property.Flags = KSPROPERTY_TYPE_GET;
    uint8_t data[12] = {};
    EXPECT_EQ(KsFilterProperty(filter_, &property, sizeof property, data, sizeof data, &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(returned, 4u);  // the handler's Information
    uint32_t got = 0;
    std::memcpy(&got, data, sizeof got);
    EXPECT_EQ(got, 0x1234u);

    // A handler that leaves Information alone returns the whole data buffer.
    PropertyRecord large{{kTestPropertySet, kPropLarge, KSPROPERTY_TYPE_GET}, {}};
    EXPECT_EQ(KsFilterProperty(filter_, &large, sizeof large, data, sizeof data, &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(returned, sizeof data);
    EXPECT_EQ(driver_.handlerCalls, 3);
    EXPECT_TRUE(driver_.irpLedToFilter);
}

KS_DATARANGE_VIDEO CallerRange() {
    KS_DATARANGE_VIDEO range{};
    range.DataRange = {sizeof range,
                       0,
                       0,
                       0,
                       KSDATAFORMAT_TYPE_VIDEO,
                       MEDIASUBTYPE_RGB32,
                       KSDATAFORMAT_SPECIFIER_VIDEOINFO};
    return range;
}

TEST_F(KsRequests, IntersectionOffersTheCallerRangeToEachMatchingRange) {
    struct Case {
        const char* name;
        GUID subFormat;
        uint32_t formatSize;
        NTSTATUS expected;
        std::vector<int> offered;  // indexes of the pin's ranges the handler saw
    } cases[] = {
        {"RGB32 matches the second range", MEDIASUBTYPE_RGB32, 296, STATUS_BUFFER_OVERFLOW, {1}},
        {"a null subformat matches both", GUID_NULL, 296, STATUS_BUFFER_OVERFLOW, {0}},
        {"no match goes on to the next range", GUID_NULL, 64, STATUS_NO_MATCH, {0, 1}},
        {"no range has this subformat", KSNAME_Filter, 296, STATUS_NO_MATCH, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        driver_.intersectRanges.clear();
        KS_DATARANGE_VIDEO caller = CallerRange();
        caller.DataRange.SubFormat = c.subFormat;
        caller.DataRange.FormatSize = c.formatSize;
        uint32_t size = 0;
        EXPECT_EQ(
            KsPinDataIntersection(filter_, 0, &caller.DataRange, sizeof caller, nullptr, 0, &size),
            c.expected);
        std::vector<const KSDATARANGE*> offered;
        for (int index : c.offered) offered.push_back(driver_.ranges[index]);
        EXPECT_EQ(driver_.intersectRanges, offered);
    }
}

TEST_F(KsRequests, IntersectionFollowsTheSizeQueryProtocol) {
    KS_DATARANGE_VIDEO caller = CallerRange();
    KS_DATAFORMAT_VIDEOINFOHEADER format{};
    struct Case {
        const char* name;
        uint32_t bufferBytes;
        NTSTATUS expected;
    } cases[] = {
        {"size query", 0, STATUS_BUFFER_OVERFLOW},
        {"short buffer", sizeof format - 1, STATUS_BUFFER_TOO_SMALL},
        {"room for the format", sizeof format, STATUS_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t size = 0;
        EXPECT_EQ(KsPinDataIntersection(filter_, 0, &caller.DataRange, sizeof caller,
                                        c.bufferBytes ? &format : nullptr, c.bufferBytes, &size),
                  c.expected);
        EXPECT_EQ(size, sizeof format);
    }
    EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biSizeImage, kTestImageBytes);
    EXPECT_TRUE(driver_.irpLedToFilter);
}

TEST_F(KsRequests, IntersectionRefusesRangesPastTheirBuffer) {
    KS_DATARANGE_VIDEO caller = CallerRange();
    uint8_t data[256];
    uint32_t size = 7;
    struct Case {
        const char* name;
        uint32_t formatSize, rangeBytes, pinId;
        void* data;
        uint32_t dataBytes;
    } cases[] = {
        {"FormatSize past the buffer", sizeof caller, sizeof caller - 1, 0, nullptr, 0},
        {"unknown pin", sizeof caller, sizeof caller, 3, nullptr, 0},
        {"buffer size without a buffer", sizeof caller, sizeof caller, 0, nullptr, sizeof data},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        caller.DataRange.FormatSize = c.formatSize;
        EXPECT_EQ(KsPinDataIntersection(filter_, c.pinId, &caller.DataRange, c.rangeBytes, c.data,
                                        c.dataBytes, &size),
                  STATUS_INVALID_PARAMETER);
        EXPECT_EQ(size, 0u);
    }
    EXPECT_TRUE(driver_.intersectRanges.empty());
}

}  // namespace
}  // namespace bayercam::test
