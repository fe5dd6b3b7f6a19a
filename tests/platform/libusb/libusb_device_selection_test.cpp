// --usb and --usb-path parsing, device matching, bus paths and the camera's shape.
#include <gtest/gtest.h>

#include <vector>

#include "platform/libusb/usb_device_selection.h"

namespace bayercam {
namespace {

struct ParseCase {
    const char* usb;
    const char* usbPath;
    bool ok;
    bool byIds;
    uint16_t vendorId;
    uint16_t productId;
    const char* serial;
    const char* busPath;
    const char* errorMentions;  // for malformed input
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, ParsesOrExplains) {
    const ParseCase& c = GetParam();
    UsbDeviceSelector selector;
    selector.serial = "left over";
    std::string error;
    ASSERT_EQ(ParseUsbDeviceSelector(c.usb, c.usbPath, &selector, &error), c.ok) << error;
    if (!c.ok) {
        EXPECT_NE(error.find(c.errorMentions), std::string::npos) << error;
        return;
    }
    EXPECT_EQ(selector.byIds, c.byIds);
    EXPECT_EQ(selector.vendorId, c.vendorId);
    EXPECT_EQ(selector.productId, c.productId);
    EXPECT_EQ(selector.serial, c.serial);
    EXPECT_EQ(selector.busPath, c.busPath);
}

INSTANTIATE_TEST_SUITE_P(
    Selectors, ParseTest,
    ::testing::Values(ParseCase{"1209:0001", "", true, true, 0x1209, 0x0001, "", "", ""},
                      ParseCase{"AbCd:1", "", true, true, 0xabcd, 0x0001, "", "", ""},
                      ParseCase{"1209:0001:SN-7", "", true, true, 0x1209, 0x0001, "SN-7", "", ""},
                      ParseCase{"1209:0001:a:b", "", true, true, 0x1209, 0x0001, "a:b", "", ""},
                      ParseCase{"", "1-3", true, false, 0, 0, "", "1-3", ""},
                      ParseCase{"", "003-3.1.12", true, false, 0, 0, "", "3-3.1.12", ""},
                      ParseCase{"", "1-1.2.3.4.5.6.7", true, false, 0, 0, "", "1-1.2.3.4.5.6.7",
                                ""},
                      ParseCase{"1209:0001", "2-1", true, true, 0x1209, 0x0001, "", "2-1", ""},
                      ParseCase{"", "", false, false, 0, 0, "", "", "--usb VID:PID"},
                      ParseCase{"1209", "", false, false, 0, 0, "", "", "--usb \"1209\""},
                      ParseCase{"1209:", "", false, false, 0, 0, "", "", "VID:PID"},
                      ParseCase{":0001", "", false, false, 0, 0, "", "", "VID:PID"},
                      ParseCase{"12g9:0001", "", false, false, 0, 0, "", "", "hexadecimal"},
                      ParseCase{"12090:0001", "", false, false, 0, 0, "", "", "hexadecimal"},
                      ParseCase{"0x12:0001", "", false, false, 0, 0, "", "", "hexadecimal"},
                      ParseCase{"-1:0001", "", false, false, 0, 0, "", "", "hexadecimal"},
                      ParseCase{"1209:0001:", "", false, false, 0, 0, "", "", "serial"},
                      ParseCase{"", "1", false, false, 0, 0, "", "", "--usb-path \"1\""},
                      ParseCase{"", "1-", false, false, 0, 0, "", "", "BUS-PORT"},
                      ParseCase{"", "-3", false, false, 0, 0, "", "", "BUS-PORT"},
                      ParseCase{"", "0-3", false, false, 0, 0, "", "", "1 to 255"},
                      ParseCase{"", "1-256", false, false, 0, 0, "", "", "1 to 255"},
                      ParseCase{"", "1-3..1", false, false, 0, 0, "", "", "BUS-PORT"},
                      ParseCase{"", "1-3.1.", false, false, 0, 0, "", "", "BUS-PORT"},
                      ParseCase{"", "1-3-1", false, false, 0, 0, "", "", "BUS-PORT"},
                      ParseCase{"", "1-1.2.3.4.5.6.7.8", false, false, 0, 0, "", "", "BUS-PORT"},
                      ParseCase{"", "1-3 ", false, false, 0, 0, "", "", "BUS-PORT"},
                      ParseCase{"1209:0001", "x", false, false, 0, 0, "", "", "--usb-path"}));

struct MatchCase {
    const char* usb;
    const char* usbPath;
    bool matches;
};

class MatchTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchTest, MatchesOnEveryGivenField) {
    const UsbDeviceInfo device{
        "1-3.1", 0x1209, 0x0001, "SN-7", "/dev/bus/usb/001/004", UsbDeviceAccess::Openable, ""};
    UsbDeviceSelector selector;
    std::string error;
    ASSERT_TRUE(ParseUsbDeviceSelector(GetParam().usb, GetParam().usbPath, &selector, &error));
    EXPECT_EQ(MatchesUsbDevice(selector, device), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, MatchTest,
    ::testing::Values(MatchCase{"1209:0001", "", true}, MatchCase{"1209:0002", "", false},
                      MatchCase{"1208:0001", "", false}, MatchCase{"1209:0001:SN-7", "", true},
                      MatchCase{"1209:0001:sn-7", "", false}, MatchCase{"1209:0001:SN", "", false},
                      MatchCase{"", "1-3.1", true}, MatchCase{"", "01-3.01", true},
                      MatchCase{"", "1-3", false}, MatchCase{"", "1-3.1.1", false},
                      MatchCase{"", "2-3.1", false}, MatchCase{"1209:0001", "1-3.1", true},
                      MatchCase{"1209:0001", "1-4", false}));

TEST(BusPathTest, NamesDevicesAsSysfsDoes) {
    const std::vector<uint8_t> none, one = {3}, deep = {3, 1, 12};
    EXPECT_EQ(FormatBusPath(1, none), "usb1");
    EXPECT_EQ(FormatBusPath(2, one), "2-3");
    EXPECT_EQ(FormatBusPath(1, deep), "1-3.1.12");
}

struct ShapeCase {
    const char* name;
    std::vector<std::pair<uint8_t, uint8_t>> endpoints;  // address, attributes
    bool camera;
};

class ShapeTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(ShapeTest, RecognisesCommandResponseImage) {
    std::vector<USB_ENDPOINT_DESCRIPTOR> endpoints;
    for (auto [address, attributes] : GetParam().endpoints)
        endpoints.push_back({7, USB_ENDPOINT_DESCRIPTOR_TYPE, address, attributes, 512, 0});
    EXPECT_EQ(HasCameraShape(endpoints), GetParam().camera);
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, ShapeTest,
    ::testing::Values(ShapeCase{"BulkTriple", {{0x01, 2}, {0x82, 2}, {0x83, 2}}, true},
                      ShapeCase{"InterruptResponse", {{0x01, 2}, {0x81, 3}, {0x82, 2}}, true},
                      ShapeCase{
                          "ExtraEndpoint", {{0x01, 2}, {0x82, 2}, {0x83, 2}, {0x04, 2}}, true},
                      ShapeCase{"TwoEndpoints", {{0x01, 2}, {0x82, 2}}, false},
                      ShapeCase{"None", {}, false},
                      ShapeCase{"InFirst", {{0x81, 2}, {0x02, 2}, {0x83, 2}}, false},
                      ShapeCase{"ImageOut", {{0x01, 2}, {0x82, 2}, {0x03, 2}}, false},
                      ShapeCase{"Isochronous", {{0x01, 2}, {0x82, 2}, {0x83, 1}}, false},
                      ShapeCase{"Control", {{0x01, 0}, {0x82, 2}, {0x83, 2}}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DescribeTest, ListLinesCarryWhatTheUserNeeds) {
    UsbDeviceInfo device{
        "1-3.1", 0x1209, 0x0001, "", "/dev/bus/usb/001/004", UsbDeviceAccess::Openable, ""};
    EXPECT_EQ(DescribeUsbDevice(device), "1-3.1       1209:0001  -                 openable");
    EXPECT_EQ(UsbAccessAdvice(device), "");

    device.serial = "SN-7";
    device.access = UsbDeviceAccess::PermissionDenied;
    std::string denied = DescribeUsbDevice(device);
    EXPECT_EQ(denied.rfind("1-3.1       1209:0001  SN-7              permission denied (", 0), 0u)
        << denied;
    EXPECT_NE(denied.find("/dev/bus/usb/001/004"), std::string::npos) << denied;
    EXPECT_NE(denied.find("udev/60-bayercam.rules.in"), std::string::npos) << denied;

    device.access = UsbDeviceAccess::Busy;
    EXPECT_NE(DescribeUsbDevice(device).find("busy (interface 0 is claimed"), std::string::npos);

    device.access = UsbDeviceAccess::Unavailable;
    device.problem = "Input/Output Error";
    EXPECT_NE(DescribeUsbDevice(device).find("unavailable (cannot be opened: Input/Output Error)"),
              std::string::npos);
}

}  // namespace
}  // namespace bayercam
