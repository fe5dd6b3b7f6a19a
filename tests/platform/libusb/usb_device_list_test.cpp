// Finding, listing and opening cameras on an emulated bus, as `bayercam list`, --usb and
// --usb-path do.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "bayercam/bayercam.h"
#include "platform/libusb/loopback_device.h"
#include "platform/libusb/usb_device_list.h"
#include "platform/libusb/usbfs_device.h"

namespace bayercam::test {
namespace {

// Root opens a file whatever its mode; without these two capabilities (in this thread only) it
// meets the mode bits like any user, which is what a missing udev rule means.
class WithoutFileCapabilities {
  public:
    WithoutFileCapabilities() {
        header_ = {_LINUX_CAPABILITY_VERSION_3, 0};
        if (syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        dropped_ = syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutFileCapabilities() {
        if (dropped_) syscall(SYS_capset, &header_, saved_);
    }

  private:
    __user_cap_header_struct header_;
    __user_cap_data_struct saved_[2] = {};
    bool dropped_ = false;
};

std::string RunCommand(const std::string& command, int* exitCode) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char chunk[256];
    while (size_t n = fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
    int status = pclose(pipe);
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

// Two cameras and a device with the wrong endpoint order, which sorts first on the bus.
class UsbDeviceListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        other_ = std::make_unique<UsbfsDevice>(testbed_, otherModel_, UsbfsPlacement{1, {2}, 3});
        cameraA_ = std::make_unique<UsbfsDevice>(testbed_, modelA_, UsbfsPlacement{1, {3, 1}, 5});
        cameraB_ = std::make_unique<UsbfsDevice>(testbed_, modelB_, UsbfsPlacement{1, {10}, 7});
    }

    static UsbOpenResult Open(const char* usb, const char* usbPath) {
        UsbDeviceSelector selector;
        std::string error;
        EXPECT_TRUE(ParseUsbDeviceSelector(usb, usbPath, &selector, &error)) << error;
        return OpenUsbCamera(selector);
    }

    UsbfsTestbed testbed_;
    LoopbackDevice otherModel_{"", {{0x81, 2}, {0x02, 2}, {0x83, 2}}};
    LoopbackDevice modelA_{"CAM-A"};
    LoopbackDevice modelB_{"CAM-B"};
    std::unique_ptr<UsbfsDevice> other_, cameraA_, cameraB_;
};

TEST_F(UsbDeviceListTest, ListsCamerasInBusOrderWithSerialAndNode) {
    UsbCameraList list = ListUsbCameras();
    EXPECT_EQ(list.error, "");
    ASSERT_EQ(list.devices.size(), 2u);
    const UsbDeviceInfo& first = list.devices[0];
    EXPECT_EQ(first.busPath, "1-3.1");
    EXPECT_EQ(first.vendorId, LoopbackDevice::kVendorId);
    EXPECT_EQ(first.productId, LoopbackDevice::kProductId);
    EXPECT_EQ(first.serial, "CAM-A");
    EXPECT_EQ(first.node, "/dev/bus/usb/001/005");
    EXPECT_EQ(first.access, UsbDeviceAccess::Openable);
    EXPECT_EQ(list.devices[1].busPath, "1-10");
    EXPECT_EQ(list.devices[1].serial, "CAM-B");
}

struct SelectionCase {
    const char* name;
    const char* usb;
    const char* usbPath;
    NTSTATUS status;
    const char* busPath;  // of the device opened or refused
};

class SelectionTest : public UsbDeviceListTest,
                      public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(SelectionTest, OpensTheDeviceMeant) {
    const SelectionCase& c = GetParam();
    UsbOpenResult opened = Open(c.usb, c.usbPath);
    EXPECT_EQ(opened.status, c.status) << opened.error;
    EXPECT_EQ(opened.device.busPath, c.busPath);
    EXPECT_EQ(opened.backend != nullptr, c.status == STATUS_SUCCESS);
    EXPECT_EQ(opened.error.empty(), c.status == STATUS_SUCCESS) << opened.error;
}

INSTANTIATE_TEST_SUITE_P(
    Selectors, SelectionTest,
    ::testing::Values(
        // 1-2 matches the ids too but lacks the camera's endpoints.
        SelectionCase{"IdsTakeFirstCamera", "1209:bc01", "", STATUS_SUCCESS, "1-3.1"},
        SelectionCase{"Serial", "1209:BC01:CAM-B", "", STATUS_SUCCESS, "1-10"},
        SelectionCase{"Path", "", "1-10", STATUS_SUCCESS, "1-10"},
        SelectionCase{"IdsAndPath", "1209:bc01", "001-3.1", STATUS_SUCCESS, "1-3.1"},
        SelectionCase{"UnknownSerial", "1209:bc01:CAM-C", "", STATUS_NOT_FOUND, ""},
        SelectionCase{"UnknownIds", "dead:beef", "", STATUS_NOT_FOUND, ""},
        SelectionCase{"PathAndIdsDisagree", "dead:beef", "1-10", STATUS_NOT_FOUND, ""},
        SelectionCase{"EmptyPort", "", "1-4", STATUS_NOT_FOUND, ""},
        SelectionCase{"NotACamera", "", "1-2", STATUS_NOT_SUPPORTED, "1-2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbDeviceListTest, NothingMatchingSaysWhatWasLookedFor) {
    UsbOpenResult opened = Open("1209:bc01:CAM-C", "");
    EXPECT_NE(opened.error.find("1209:bc01 with serial CAM-C"), std::string::npos) << opened.error;
    EXPECT_NE(opened.error.find("bayercam list"), std::string::npos) << opened.error;
}

TEST_F(UsbDeviceListTest, InterfaceClaimedElsewhereIsBusy) {
    cameraA_->SetClaimedElsewhere(true);
    UsbCameraList list = ListUsbCameras();
    ASSERT_EQ(list.devices.size(), 2u);
    EXPECT_EQ(list.devices[0].access, UsbDeviceAccess::Busy);
    EXPECT_EQ(list.devices[1].access, UsbDeviceAccess::Openable);

    UsbOpenResult opened = Open("", "1-3.1");
    EXPECT_EQ(opened.status, STATUS_DEVICE_BUSY);
    EXPECT_FALSE(opened.backend);
    EXPECT_NE(opened.error.find("1-3.1 (1209:bc01)"), std::string::npos) << opened.error;
    EXPECT_NE(opened.error.find("claimed by another driver or process"), std::string::npos)
        << opened.error;
}

TEST_F(UsbDeviceListTest, CameraInUseByAnotherHandleIsBusy) {
    UsbOpenResult first = Open("", "1-10");
    ASSERT_TRUE(first.backend) << first.error;
    ASSERT_EQ(first.backend->SetConfiguration(1), USBD_STATUS_SUCCESS);
    UsbOpenResult second = Open("", "1-10");
    EXPECT_EQ(second.status, STATUS_DEVICE_BUSY) << second.error;
    first.backend.reset();
    UsbOpenResult third = Open("", "1-10");
    EXPECT_EQ(third.status, STATUS_SUCCESS) << third.error;
}

// What an application is told about a camera it cannot have: the code and the reason.
TEST_F(UsbDeviceListTest, ApplicationOpenSaysWhyTheCameraCannotBeHad) {
    cameraA_->SetClaimedElsewhere(true);
    struct Case {
        const char* selector;
        int code;
        const char* says;
    } cases[] = {
        {"usb-path:1-3.1", -EBUSY, "in use by another program"},
        {"usb:1209:bc01:CAM-A", -EBUSY, "in use by another program"},
        {"usb-path:1-9", -ENODEV, "no USB device at 1-9"},
        {"usb:1209:bc01:CAM-Z", -ENODEV, "CAM-Z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selector);
        bayercam_camera* cam = nullptr;
        EXPECT_EQ(bayercam_open(c.selector, "/nonexistent", &cam), c.code);
        EXPECT_EQ(cam, nullptr);
        EXPECT_NE(std::string(bayercam_last_error(nullptr)).find(c.says), std::string::npos)
            << bayercam_last_error(nullptr);
    }
}

TEST_F(UsbDeviceListTest, NodeWithoutAccessNamesTheNodeAndTheUdevRule) {
    cameraB_->DenyAccess();
    WithoutFileCapabilities asUser;
    UsbCameraList list = ListUsbCameras();
    ASSERT_EQ(list.devices.size(), 2u);
    const UsbDeviceInfo& denied = list.devices[1];
    EXPECT_EQ(denied.access, UsbDeviceAccess::PermissionDenied);
    EXPECT_EQ(denied.serial, "CAM-B");  // from sysfs, which everyone may read

    UsbOpenResult opened = Open("1209:bc01:CAM-B", "");
    EXPECT_EQ(opened.status, STATUS_ACCESS_DENIED);
    EXPECT_NE(opened.error.find("/dev/bus/usb/001/007"), std::string::npos) << opened.error;
    EXPECT_NE(opened.error.find("udev/60-bayercam.rules.in"), std::string::npos) << opened.error;
    EXPECT_EQ(Open("", "1-3.1").status, STATUS_SUCCESS);
}

TEST_F(UsbDeviceListTest, ListCommandPrintsOneLinePerCamera) {
    int exitCode = -1;
    std::string output = RunCommand(std::string(BAYERCAM_TOOL) + " list", &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_NE(output.find("1-3.1       1209:bc01  CAM-A             openable\n"), std::string::npos)
        << output;
    EXPECT_NE(output.find("1-10        1209:bc01  CAM-B             openable\n"), std::string::npos)
        << output;
    EXPECT_EQ(output.find("1-2 "), std::string::npos) << output;
}

TEST(UsbDeviceListEmptyBusTest, ListCommandSaysNoCameraAndSucceeds) {
    UsbfsTestbed testbed;
    EXPECT_TRUE(ListUsbCameras().devices.empty());
    int exitCode = -1;
    std::string output = RunCommand(std::string(BAYERCAM_TOOL) + " list", &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(output.rfind("no camera found", 0), 0u) << output;
}

}  // namespace
}  // namespace bayercam::test
