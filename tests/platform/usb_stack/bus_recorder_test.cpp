#include <gtest/gtest.h>

#include <vector>

#include "platform/usb_stack/bus_recorder.h"

namespace bayercam {
namespace {

BusRecord Transfer(uint8_t endpoint, uint32_t length) {
    BusRecord record{};
    record.kind = BusRequestKind::BulkOrInterrupt;
    record.endpoint = endpoint;
    record.in = (endpoint & 0x80) != 0;
    record.requestedLength = length;
    return record;
}

TEST(BusRecorder, KeepsDataOnlyForSmallTransfers) {
    struct Case {
        uint8_t endpoint;
        uint32_t length;
        size_t keptAtSubmit, keptAtCompletion;
    };
    const Case cases[] = {{0x01, 64, 64, 64},
                          {0x82, 64, 0, 64},
                          {0x01, BusRecorder::kMaxRecordedData, 4096, 4096},
                          {0x83, 65536, 0, 0},
                          {0x01, 65536, 0, 0}};
    std::vector<uint8_t> data(65536, 0xAB);
    for (const Case& c : cases) {
        BusRecorder recorder;
        uint64_t id = recorder.Submit(Transfer(c.endpoint, c.length), data.data());
        EXPECT_EQ(recorder.Records()[0].data.size(), c.keptAtSubmit);
        recorder.Complete(id, c.length, data.data(), USBD_STATUS_SUCCESS, STATUS_SUCCESS);
        BusRecord record = recorder.Records()[0];
        EXPECT_EQ(record.data.size(), c.keptAtCompletion);
        EXPECT_TRUE(record.completed);
        EXPECT_EQ(record.actualLength, c.length);
        EXPECT_LE(record.submittedNs, record.completedNs);
    }
}

TEST(BusRecorder, ShortInTransferKeepsOnlyWhatArrived) {
    BusRecorder recorder;
    std::vector<uint8_t> data(64, 7);
    uint64_t id = recorder.Submit(Transfer(0x82, 64), nullptr);
    recorder.Complete(id, 32, data.data(), USBD_STATUS_SUCCESS, STATUS_SUCCESS);
    EXPECT_EQ(recorder.Records()[0].data, std::vector<uint8_t>(32, 7));
}

TEST(BusRecorder, DropsOldestBeyondCapacityButStillCompletesPendingOnes) {
    BusRecorder recorder;
    recorder.SetCapacity(3);
    std::vector<BusRecord> seen;
    recorder.SetSink([&](const BusRecord& record) { seen.push_back(record); });
    uint64_t pending = recorder.Submit(Transfer(0x82, 64), nullptr);
    for (int i = 0; i < 5; ++i) {
        uint64_t id = recorder.Submit(Transfer(0x01, 64), nullptr);
        recorder.Complete(id, 64, nullptr, USBD_STATUS_SUCCESS, STATUS_SUCCESS);
    }
    std::vector<BusRecord> kept = recorder.Records();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept.front().id, pending + 3);
    recorder.Complete(pending, 0, nullptr, USBD_STATUS_CANCELED, STATUS_CANCELLED);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().id, pending);
    EXPECT_TRUE(seen.back().completed);
    EXPECT_EQ(seen.back().ntStatus, STATUS_CANCELLED);
    EXPECT_EQ(seen.size(), 12u);  // each record once at submission and once at completion
}

TEST(BusRecorder, ClearKeepsPendingRecordsCompletable) {
    BusRecorder recorder;
    int completions = 0;
    recorder.SetSink([&](const BusRecord& record) { completions += record.completed; });
    uint64_t id = recorder.Submit(Transfer(0x83, 64), nullptr);
    recorder.Clear();
    EXPECT_TRUE(recorder.Records().empty());
    recorder.Complete(id, 64, nullptr, USBD_STATUS_SUCCESS, STATUS_SUCCESS);
    EXPECT_EQ(completions, 1);
}

}  // namespace
}  // namespace bayercam
