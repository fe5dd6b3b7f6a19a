#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/usb_stack/usbmon_pcap.h"
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

    std::string path_;
    UsbmonPcapWriter writer_;
    std::unique_ptr<SimDevice> sim_;
    std::vector<BusRecord> records_;
};

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

// Every request of a start and stop appears twice, submitted and completed: OUT data with the
// submission, IN data with the completion, and the kernel's status codes.
TEST_F(UsbmonPcapTest, PacketAnalyserReadsTheTrace) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "tshark is not installed";
    }
    Capture();
    std::string fields = Output("tshark -r '" + path_ +
                                "' -T fields -E separator=, -e usb.urb_type -e usb.transfer_type "
                                "-e usb.endpoint_address -e usb.urb_status -e usb.data_len "
                                "-e usb.capdata 2>/dev/null");
    std::istringstream lines(fields);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), 2 * records_.size()) << fields.substr(0, 400);
    const std::string zeros(120, '0');
    struct Expected {
        size_t row;
        std::string text;  // the row's start
    };
    const Expected expected[] = {
        {0, "'S',0x02,0x80,-115,0,"},                    // device descriptor asked for
        {1, "'C',0x02,0x80,0,18,"},                      // and received (dissected below)
        {6, "'S',0x02,0x00,-115,0,"},                    // configuration selected
        {8, "'S',0x03,0x01,-115,64,0600" + zeros},       // the start-up command
        {9, "'C',0x03,0x01,0,0,"},                       // taken
        {10, "'S',0x03,0x01,-115,64,25061100" + zeros},  // logic register 6 = 0x11
    };
    for (const Expected& e : expected) {
        EXPECT_EQ(rows[e.row].substr(0, e.text.size()), e.text) << e.row;
    }
    size_t answers = 0;
    for (const std::string& row : rows) answers += row.rfind("'C',0x03,0x82,0,64,", 0) == 0;
    EXPECT_EQ(answers, 2u);  // the clock read's two answers
    std::string dissected = Output("tshark -r '" + path_ + "' -V 2>/dev/null");
    EXPECT_NE(dissected.find("idVendor: Generic (0x1209)"), std::string::npos);
    EXPECT_EQ(dissected.find("Malformed"), std::string::npos);
}

}  // namespace
}  // namespace bayercam
