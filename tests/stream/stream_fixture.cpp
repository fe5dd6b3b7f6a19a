#include "stream_fixture.h"

#include <cstring>

namespace bayercam::test {

void StreamFixture::SetUp() {
    LeakCheckedTest::SetUp();
    sim_ = std::make_unique<testing::SimDevice>();
    sim_->AddAndStart();
    fake_.Attach(device());
}

void StreamFixture::OpenFilter(client::Filter* filter) {
    client::Status status = client::OpenFilterByReference(*sim_->ksDevice, "GLOBAL", filter);
    ASSERT_TRUE(status.ok()) << status.message;
}

std::vector<uint8_t> StreamFixture::OfferedFormat(const client::Filter& filter) {
    std::vector<const KSDATARANGE*> ranges = filter.DataRanges(0);
    EXPECT_EQ(ranges.size(), 1u);
    std::vector<uint8_t> format;
    client::Status status = filter.Intersect(0, *ranges.at(0), &format);
    EXPECT_TRUE(status.ok()) << status.message;
    return format;
}

void StreamFixture::CreatePin(const client::Filter& filter, client::Pin* pin, bool clock) {
    std::vector<uint8_t> format = OfferedFormat(filter);
    client::Status status =
        pin->Create(filter, 0, format.data(), static_cast<uint32_t>(format.size()), {clock});
    ASSERT_TRUE(status.ok()) << status.message;
}

CapturePin* PinRecord(const client::Pin& pin) {
    return pin.Object() ? static_cast<CapturePin*>(pin.Object()->Context) : nullptr;
}

KS_DATAFORMAT_VIDEOINFOHEADER AsVideoFormat(const std::vector<uint8_t>& bytes) {
    KS_DATAFORMAT_VIDEOINFOHEADER format{};
    std::memcpy(&format, bytes.data(), std::min(bytes.size(), sizeof format));
    return format;
}

}  // namespace bayercam::test
