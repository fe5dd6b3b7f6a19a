#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/usbmon_pcap.h"
#include "support/sim_device.h"

namespace bayercam {
namespace {

using testing::SimDevice;

// A camera started with every bus transfer written to a capture file.
class UsbmonPcapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = (std::filesystem::temp_directory_path() /
                 ("bayercam-trace-" + std::to_string(::getpid()) + ".pcap"))
                    .string();
        std::string error;
        ASSERT_TRUE(writer_.Open(path_, &error)) << error;
        sim_ = std::make_unique<SimDevice>();
        sim_->bus.Recorder().SetSink([this](const BusRecord& r) { writer_.Write(r); });
    }
    void TearDown() override { std::filesystem::remove(path_); }
    // Starts, stops and removes the camera, then closes the file.
    void Capture() {
        sim_->AddAndStart();
        sim_->Remove();
        records_ = sim_->Records();
        sim_.reset();
        ASSERT_TRUE(writer_.Close());
    }
    std::vector<uint8_t> Bytes() {
        std::ifstream file(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }

    std::string path_;
    UsbmonPcapWriter writer_;
    std::unique_ptr<SimDevice> sim_;
    std::vector<BusRecord> records_;
};

uint64_t Field(const std::vector<uint8_t>& bytes, size_t offset, int size) {
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes.at(offset + i);
    return value;
}

TEST_F(UsbmonPcapTest, FileHeaderAndOneRecordPerSubmissionAndCompletion) {
    Capture();
    std::vector<uint8_t> bytes = Bytes();
    ASSERT_GE(bytes.size(), 24u);
    EXPECT_EQ(Field(bytes, 0, 4), 0xA1B2C3D4u);
    EXPECT_EQ(Field(bytes, 4, 2), 2u);
    EXPECT_EQ(Field(bytes, 6, 2), 4u);
    EXPECT_EQ(Field(bytes, 20, 4), 220u);

    // Walk the records: each is a usbmon header, then exactly the data it announces.
    struct Seen {
        char type;
        uint8_t transferType, endpoint;
        int32_t status;
        uint32_t length, captured;
        std::vector<uint8_t> data;
    };
    std::vector<Seen> seen;
    for (size_t at = 24; at < bytes.size();) {
        uint32_t included = static_cast<uint32_t>(Field(bytes, at + 8, 4));
        size_t header = at + 16;
        ASSERT_GE(included, 64u);
        ASSERT_LE(header + included, bytes.size());
        Seen s;
        s.type = static_cast<char>(bytes[header + 8]);
        s.transferType = bytes[header + 9];
        s.endpoint = bytes[header + 10];
        s.status = static_cast<int32_t>(Field(bytes, header + 28, 4));
        s.length = static_cast<uint32_t>(Field(bytes, header + 32, 4));
        s.captured = static_cast<uint32_t>(Field(bytes, header + 36, 4));
        ASSERT_EQ(included, 64 + s.captured);
        s.data.assign(bytes.begin() + static_cast<long>(header + 64),
                      bytes.begin() + static_cast<long>(header + included));
        seen.push_back(std::move(s));
        at = header + included;
    }
    // Every request of the start and stop appears twice: submitted and completed.
    ASSERT_EQ(seen.size(), 2 * records_.size());
    struct Expected {
        size_t index;
        char type;
        uint8_t transferType, endpoint;
        int32_t status;
        uint32_t length, captured;
    };
    const Expected expected[] = {
        {0, 'S', 2, 0x80, -115, 18, 0},   // device descriptor requested
        {1, 'C', 2, 0x80, 0, 18, 18},     // and received
        {6, 'S', 2, 0x00, -115, 0, 0},    // configuration selected
        {8, 'S', 3, 0x01, -115, 64, 64},  // start-up command with its data
        {9, 'C', 3, 0x01, 0, 64, 0},      // taken, no data back
    };
    for (const Expected& e : expected) {
        const Seen& s = seen[e.index];
        EXPECT_EQ(s.type, e.type) << e.index;
        EXPECT_EQ(s.transferType, e.transferType) << e.index;
        EXPECT_EQ(s.endpoint, e.endpoint) << e.index;
        EXPECT_EQ(s.status, e.status) << e.index;
        EXPECT_EQ(s.length, e.length) << e.index;
        EXPECT_EQ(s.captured, e.captured) << e.index;
    }
    EXPECT_EQ(seen[8].data[0], 0x06);
    EXPECT_EQ(seen[1].data[0], 18);  // bLength of the device descriptor
    // The clock answers come in on the response endpoint with their data in the completion.
    size_t answers = 0;
    for (const Seen& s : seen) answers += s.endpoint == 0x82 && s.type == 'C' && s.captured == 64;
    EXPECT_EQ(answers, 2u);
}

std::string Output(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return output;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
    ::pclose(pipe);
    return output;
}

TEST_F(UsbmonPcapTest, PacketAnalyserReadsTheTrace) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "tshark is not installed";
    }
    Capture();
    std::string fields =
        Output("tshark -r '" + path_ +
               "' -T fields -E separator=, -e usb.urb_type -e usb.transfer_type "
               "-e usb.endpoint_address -e usb.data_len -e usb.capdata 2>/dev/null");
    std::istringstream lines(fields);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), 2 * records_.size()) << fields.substr(0, 400);
    EXPECT_EQ(rows[0].substr(0, 9), "'S',0x02,");
    // The start-up command and the first logic write, as the camera got them.
    EXPECT_EQ(rows[8], "'S',0x03,0x01,64,06" + std::string(126, '0'));
    EXPECT_EQ(rows[10], "'S',0x03,0x01,64,2506110" + std::string(121, '0'));
    // The tail of the sequence decodes as the protocol's sensor writes.
    std::string dissected = Output("tshark -r '" + path_ + "' -V 2>/dev/null");
    EXPECT_NE(dissected.find("SET CONFIGURATION"), std::string::npos);
    EXPECT_EQ(dissected.find("Malformed"), std::string::npos);
}

}  // namespace
}  // namespace bayercam
