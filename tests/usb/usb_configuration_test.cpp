#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/kernel/pool.h"
#include "support/sim_device.h"
#include "usb/pipe_recovery.h"
#include "usb/usb_configuration.h"

namespace bayercam {
namespace {

using testing::SimDevice;
using testing::SimDeviceTest;

// A lower driver that answers select-configuration requests itself and keeps what it saw.
struct CapturingLower {
    CapturingLower() {
        device.StackSize = 1;
        device.DeviceExtension = this;
        device.InternalDeviceControl = [](DEVICE_OBJECT* d, IRP* irp) {
            auto* self = static_cast<CapturingLower*>(d->DeviceExtension);
            auto* urb = static_cast<URB*>(IoGetCurrentIrpStackLocation(irp)->Parameters.Argument1);
            ++self->requests;
            size_t offset = offsetof(_URB_SELECT_CONFIGURATION, Interface);
            while (offset < urb->UrbHeader.Length) {
                auto* info = reinterpret_cast<USBD_INTERFACE_INFORMATION*>(
                    reinterpret_cast<uint8_t*>(urb) + offset);
                self->interfaces.push_back(info->InterfaceNumber);
                for (uint32_t i = 0; i < info->NumberOfPipes; ++i) {
                    self->maximumTransferSizes.push_back(info->Pipes[i].MaximumTransferSize);
                    info->Pipes[i].PipeHandle = info;
                }
                offset += info->Length;
            }
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoCompleteRequest(irp, 0);
            return STATUS_SUCCESS;
        };
    }
    DEVICE_OBJECT device{};
    int requests = 0;
    std::vector<int> interfaces;
    std::vector<uint32_t> maximumTransferSizes;
};

std::vector<uint8_t> Config(uint8_t declared, std::vector<std::vector<uint8_t>> interfaces) {
    std::vector<uint8_t> bytes = {9, 2, 0, 0, declared, 1, 0, 0x80, 250};
    for (const auto& i : interfaces) bytes.insert(bytes.end(), i.begin(), i.end());
    bytes[2] = static_cast<uint8_t>(bytes.size());
    return bytes;
}
std::vector<uint8_t> Interface(uint8_t number, uint8_t alternate = 0) {
    return {9, 4, number, alternate, 1, 0xFF, 0, 0, 0, 7, 5, 0x81, 2, 0, 2, 0};
}

class UsbConfigurationTest : public SimDeviceTest {};

TEST_F(UsbConfigurationTest, SelectionListsInterfacesInNumberOrderAndEnds) {
    struct Case {
        const char* name;
        std::vector<uint8_t> config;
        NTSTATUS status;
        std::vector<int> selected;
    };
    const Case cases[] = {
        {"one interface", Config(1, {Interface(0)}), STATUS_SUCCESS, {0}},
        {"gap in the numbers", Config(2, {Interface(2), Interface(0)}), STATUS_SUCCESS, {0, 2}},
        {"more declared than present", Config(5, {Interface(1)}), STATUS_SUCCESS, {1}},
        {"stops once the declared count is found",
         Config(1, {Interface(3), Interface(7)}),
         STATUS_SUCCESS,
         {3}},
        {"highest interface number", Config(1, {Interface(255)}), STATUS_SUCCESS, {255}},
        {"only an alternate setting", Config(1, {Interface(0, 1)}), STATUS_INVALID_PARAMETER, {}},
        {"no interface declared", Config(0, {Interface(0)}), STATUS_INVALID_PARAMETER, {}},
    };
    for (const Case& c : cases) {
        CapturingLower lower;
        UsbTarget usb{};
        usb.lowerDevice = &lower.device;
        std::vector<uint8_t> config = c.config;
        EXPECT_EQ(SelectConfiguration(
                      &usb, reinterpret_cast<USB_CONFIGURATION_DESCRIPTOR*>(config.data())),
                  c.status)
            << c.name;
        EXPECT_EQ(lower.interfaces, c.selected) << c.name;
        EXPECT_EQ(lower.requests, c.selected.empty() ? 0 : 1) << c.name;
        for (uint32_t size : lower.maximumTransferSizes) {
            // Only the first interface's pipes ask for unlimited transfers.
            EXPECT_TRUE(size == 0xFFFFFFFF || lower.maximumTransferSizes.size() > 1) << c.name;
        }
        if (NT_SUCCESS(c.status)) {
            ASSERT_NE(usb.interfaceInfo, nullptr);
            EXPECT_EQ(usb.interfaceInfo->InterfaceNumber, c.selected[0]) << c.name;
            EXPECT_NE(usb.pipeAbortMarks, nullptr);
        }
        FreeConfiguration(&usb);
    }
}

TEST_F(UsbConfigurationTest, InterfaceWithoutPipesHasNoAbortMarks) {
    sim::SimCameraOptions options;
    options.interfaces = {{0, {}}, {1, {{0x01}, {0x82}, {0x83}}}};
    SimDevice& sim = Started(options);
    ASSERT_NE(sim.device()->usb.interfaceInfo, nullptr);
    EXPECT_EQ(sim.device()->usb.interfaceInfo->NumberOfPipes, 0u);
    EXPECT_EQ(sim.device()->usb.pipeAbortMarks, nullptr);
}

TEST_F(UsbConfigurationTest, GapInInterfaceNumbersSelectsBothOnTheCamera) {
    sim::SimCameraOptions options;
    options.interfaces = {{2, {{0x84}}}, {0, {{0x01}, {0x82}, {0x83}}}};
    SimDevice& sim = Started(options);
    EXPECT_EQ(sim.device()->usb.interfaceInfo->InterfaceNumber, 0);
    EXPECT_EQ(sim.device()->usb.interfaceInfo->NumberOfPipes, 3u);
}

TEST_F(UsbConfigurationTest, EveryAllocationOfTheSelectionFailedInTurn) {
    std::vector<uint8_t> config = Config(2, {Interface(0), Interface(1)});
    for (uint64_t n = 1;; ++n) {
        pool::Reset();
        CapturingLower lower;
        UsbTarget usb{};
        usb.lowerDevice = &lower.device;
        pool::FailNth(n);
        NTSTATUS status = SelectConfiguration(
            &usb, reinterpret_cast<USB_CONFIGURATION_DESCRIPTOR*>(config.data()));
        bool failed = pool::InjectedFailures() > 0;
        EXPECT_EQ(status, failed ? STATUS_INSUFFICIENT_RESOURCES : STATUS_SUCCESS) << n;
        FreeConfiguration(&usb);
        ASSERT_EQ(pool::LiveAllocations(), live_) << n;
        if (!failed) break;
    }
}

TEST_F(UsbConfigurationTest, PortIsResetOnlyWhenConnectedButNotEnabled) {
    struct Case {
        const char* name;
        uint32_t portStatus;
        NTSTATUS resetStatus;
        bool statusRequestFails;
        NTSTATUS expected;
        int resets;
    };
    const Case cases[] = {
        {"connected and enabled", USBD_PORT_CONNECTED | USBD_PORT_ENABLED, STATUS_SUCCESS, false,
         STATUS_SUCCESS, 0},
        {"not connected", 0, STATUS_SUCCESS, false, STATUS_SUCCESS, 0},
        {"enabled but not connected", USBD_PORT_ENABLED, STATUS_SUCCESS, false, STATUS_SUCCESS, 0},
        {"connected, not enabled", USBD_PORT_CONNECTED, STATUS_SUCCESS, false, STATUS_SUCCESS, 1},
        {"reset fails", USBD_PORT_CONNECTED, STATUS_UNSUCCESSFUL, false, STATUS_UNSUCCESSFUL, 1},
        {"status request fails", USBD_PORT_CONNECTED, STATUS_SUCCESS, true,
         STATUS_DEVICE_NOT_CONNECTED, 0},
    };
    for (const Case& c : cases) {
        sim::SimCameraOptions options;
        options.portStatus = c.portStatus;
        options.resetPortStatus = c.resetStatus;
        SimDevice& sim = Started(options);
        if (c.statusRequestFails) {
            sim.bus.InjectFault({BusRequestKind::GetPortStatus, 1, STATUS_DEVICE_NOT_CONNECTED,
                                 USBD_STATUS_DEVICE_GONE});
        }
        EXPECT_EQ(ResetPortIfDisabled(&sim.device()->usb), c.expected) << c.name;
        EXPECT_EQ(sim.camera.PortResets(), c.resets) << c.name;
        EXPECT_EQ(sim.Records(BusRequestKind::ResetPort).size(), static_cast<size_t>(c.resets));
        sim_.reset();
    }
}

TEST_F(UsbConfigurationTest, ImagePipeResetClearsItsHalt) {
    SimDevice& sim = Started();
    EXPECT_EQ(ResetImagePipe(&sim.device()->usb), STATUS_SUCCESS);
    EXPECT_EQ(sim.camera.HaltsCleared(sim::kImageEndpoint), 1);
    std::vector<BusRecord> resets = sim.Records(BusRequestKind::ResetPipe);
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(resets[0].endpoint, 0x83);

    pool::FailNth(1);
    EXPECT_EQ(ResetImagePipe(&sim.device()->usb), STATUS_INSUFFICIENT_RESOURCES);
    pool::Reset();

    sim.Stop();
    size_t before = sim.Records().size();
    EXPECT_EQ(ResetImagePipe(&sim.device()->usb), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(sim.Records().size(), before);
}

TEST_F(UsbConfigurationTest, AbortMarkedPipesAbortsOnlyMarkedOnesAndKeepsFailedMarks) {
    struct Case {
        const char* name;
        std::vector<uint8_t> marks;
        bool failFirstAbort;
        bool failAllocation;
        std::vector<uint8_t> aborted;
        std::vector<uint8_t> marksAfter;
    };
    const Case cases[] = {
        {"no marks", {0, 0, 0}, false, false, {}, {0, 0, 0}},
        {"two marks", {1, 0, 1}, false, false, {0x01, 0x83}, {0, 0, 0}},
        {"failed abort keeps its mark", {1, 0, 1}, true, false, {0x01, 0x83}, {1, 0, 0}},
        {"no request buffer stops", {1, 1, 1}, false, true, {}, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        SimDevice& sim = Started();
        CameraDevice* device = sim.device();
        std::memcpy(device->usb.pipeAbortMarks, c.marks.data(), 3);
        if (c.failFirstAbort) {
            sim.bus.InjectFault(
                {BusRequestKind::AbortPipe, 1, STATUS_UNSUCCESSFUL, USBD_STATUS_STALL_PID});
        }
        if (c.failAllocation) pool::FailNth(1);
        device->ops->AbortMarkedPipes(device);
        pool::Reset();
        std::vector<uint8_t> aborted;
        for (const BusRecord& r : sim.Records(BusRequestKind::AbortPipe)) {
            aborted.push_back(r.endpoint);
        }
        EXPECT_EQ(aborted, c.aborted) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(device->usb.pipeAbortMarks, device->usb.pipeAbortMarks + 3),
                  c.marksAfter)
            << c.name;
        sim_.reset();
    }
    UsbTarget unconfigured{};
    CameraDevice device{};
    device.usb = unconfigured;
    AbortMarkedPipes(&device);  // nothing to abort, nothing sent
}

}  // namespace
}  // namespace bayercam
