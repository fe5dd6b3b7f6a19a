#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/kernel/pool.h"
#include "support/sim_device.h"

namespace bayercam {
namespace {

using testing::SimDevice;
using testing::SimDeviceTest;

// A transfer sent down as a driver would with a request it keeps: the completion routine
// signals and returns the request to the test, which may cancel it at any time before that.
struct AsyncTransfer {
    AsyncTransfer(DEVICE_OBJECT* lower, USBD_PIPE_HANDLE pipe, uint32_t length, bool in)
        : lower(lower), data(length) {
        urb.UrbHeader.Length = sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER);
        urb.UrbHeader.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
        auto& transfer = urb.UrbBulkOrInterruptTransfer;
        transfer.PipeHandle = pipe;
        transfer.TransferFlags = USBD_SHORT_TRANSFER_OK | (in ? USBD_TRANSFER_DIRECTION_IN : 0);
        transfer.TransferBufferLength = length;
        transfer.TransferBuffer = data.data();
        KeInitializeEvent(&done);
        irp = IoAllocateIrp(lower->StackSize, false);
        IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
        next->Parameters.Argument1 = &urb;
        IoSetCompletionRoutine(irp, &Completed, this, true, true, true);
    }
    ~AsyncTransfer() { IoFreeIrp(irp); }

    NTSTATUS Send() { return IofCallDriver(lower, irp); }
    NTSTATUS Wait() {
        KeWaitForSingleObject(&done, nullptr);
        return irp->IoStatus.Status;
    }
    static NTSTATUS Completed(DEVICE_OBJECT*, IRP*, void* context) {
        auto* self = static_cast<AsyncTransfer*>(context);
        self->completions.fetch_add(1);
        KeSetEvent(&self->done);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }

    DEVICE_OBJECT* lower;
    std::vector<uint8_t> data;
    URB urb{};
    IRP* irp;
    KEVENT done;
    std::atomic<int> completions{0};
};

class UsbBusTest : public SimDeviceTest {
  public:
    using SimDeviceTest::sim_;  // the cases below reach the camera through the fixture
    USBD_PIPE_INFORMATION& Pipe(uint32_t index) {
        return sim_->device()->usb.interfaceInfo->Pipes[index];
    }
    std::unique_ptr<AsyncTransfer> Transfer(uint32_t pipe, uint32_t length = 64) {
        USBD_PIPE_INFORMATION& info = Pipe(pipe);
        return std::make_unique<AsyncTransfer>(sim_->bus.PhysicalDevice(), info.PipeHandle, length,
                                               (info.EndpointAddress & 0x80) != 0);
    }
};

TEST_F(UsbBusTest, StartTrafficIsTheDescriptorReadsAndTheConfiguration) {
    SimDevice& sim = Started();
    std::vector<BusRecord> records = sim.Records(BusRequestKind::Control);
    ASSERT_EQ(records.size(), 4u);
    struct Expected {
        uint8_t bmRequestType, bRequest;
        uint16_t wValue, wLength;
        uint32_t actual;
    };
    const Expected expected[] = {{0x80, 6, 0x0100, 18, 18},
                                 {0x80, 6, 0x0200, 9, 9},
                                 {0x80, 6, 0x0200, 39, 39},
                                 {0x00, 9, 1, 0, 0}};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].kind, BusRequestKind::Control);
        EXPECT_EQ(records[i].setup.bmRequestType, expected[i].bmRequestType) << i;
        EXPECT_EQ(records[i].setup.bRequest, expected[i].bRequest) << i;
        EXPECT_EQ(records[i].setup.wValue, expected[i].wValue) << i;
        EXPECT_EQ(records[i].setup.wLength, expected[i].wLength) << i;
        EXPECT_EQ(records[i].actualLength, expected[i].actual) << i;
        EXPECT_EQ(records[i].ntStatus, STATUS_SUCCESS) << i;
        EXPECT_TRUE(records[i].completed);
    }
    EXPECT_EQ(records[0].data.size(), 18u);
    EXPECT_EQ(sim.camera.Configuration(), 1);
}

TEST_F(UsbBusTest, SelectedPipesCarryTheEndpointsTypesAndLimits) {
    sim::SimCameraOptions options;
    options.interfaces[0].endpoints[1].attributes = sim::kInterrupt;
    options.interfaces[0].endpoints[2].maxPacketSize = 64;
    sim_ = std::make_unique<SimDevice>(options);
    sim_->bus.SetMaximumTransferSize(65536);
    sim_->AddAndStart();
    struct Expected {
        uint8_t endpoint;
        USBD_PIPE_TYPE type;
        uint16_t maxPacket;
    };
    const Expected expected[] = {{0x01, UsbdPipeTypeBulk, 512},
                                 {0x82, UsbdPipeTypeInterrupt, 512},
                                 {0x83, UsbdPipeTypeBulk, 64}};
    ASSERT_EQ(sim_->device()->usb.interfaceInfo->NumberOfPipes, 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Pipe(i).EndpointAddress, expected[i].endpoint);
        EXPECT_EQ(Pipe(i).PipeType, expected[i].type);
        EXPECT_EQ(Pipe(i).MaximumPacketSize, expected[i].maxPacket);
        EXPECT_EQ(Pipe(i).MaximumTransferSize, 65536u);
        EXPECT_NE(Pipe(i).PipeHandle, nullptr);
    }
}

TEST_F(UsbBusTest, OutTransferCompletesFromTheCameraWithTheBytesMoved) {
    Started();
    auto command = Transfer(kCommandPipe);
    command->data[0] = 0x06;
    EXPECT_EQ(command->Send(), STATUS_PENDING);
    EXPECT_EQ(command->Wait(), STATUS_SUCCESS);
    EXPECT_EQ(command->urb.UrbBulkOrInterruptTransfer.TransferBufferLength, 64u);
    EXPECT_EQ(command->irp->IoStatus.Information, 64u);
    EXPECT_EQ(sim_->camera.ReceivedCommands().back(), command->data);
    BusRecord record = sim_->Records(BusRequestKind::BulkOrInterrupt).back();
    EXPECT_EQ(record.endpoint, 0x01);
    EXPECT_FALSE(record.in);
    EXPECT_EQ(record.data, command->data);
}

TEST_F(UsbBusTest, InTransferWaitsUntilCancelled) {
    Started();
    auto response = Transfer(kResponsePipe);
    ASSERT_EQ(response->Send(), STATUS_PENDING);
    // The camera's count: the bus's own lags the completion of the start-up's last command.
    EXPECT_EQ(sim_->camera.PendingTransfers(), 1);
    EXPECT_EQ(response->completions.load(), 0);
    EXPECT_TRUE(IoCancelIrp(response->irp));
    EXPECT_EQ(response->Wait(), STATUS_CANCELLED);
    EXPECT_EQ(response->urb.UrbHeader.Status, USBD_STATUS_CANCELED);
    EXPECT_EQ(response->urb.UrbBulkOrInterruptTransfer.TransferBufferLength, 0u);
    EXPECT_EQ(response->completions.load(), 1);
}

TEST_F(UsbBusTest, CancelledBeforeItIsSentNeverReachesTheCamera) {
    Started();
    size_t before = sim_->camera.ReceivedCommands().size();
    auto command = Transfer(kCommandPipe);
    IoCancelIrp(command->irp);
    EXPECT_EQ(command->Send(), STATUS_PENDING);
    EXPECT_EQ(command->Wait(), STATUS_CANCELLED);
    EXPECT_EQ(sim_->camera.ReceivedCommands().size(), before);
}

// An answer and a cancel arrive at the same time: the request completes exactly once, either way.
TEST_F(UsbBusTest, CancelRacingCompletionCompletesOnce) {
    Started();
    const uint8_t answer[64] = {1};
    int cancelled = 0;
    for (int round = 0; round < 300; ++round) {
        auto response = Transfer(kResponsePipe);
        ASSERT_EQ(response->Send(), STATUS_PENDING);
        std::thread answering([&] { sim_->camera.QueueResponse(answer, sizeof answer); });
        IoCancelIrp(response->irp);
        NTSTATUS status = response->Wait();
        answering.join();
        ASSERT_TRUE(status == STATUS_SUCCESS || status == STATUS_CANCELLED);
        cancelled += status == STATUS_CANCELLED;
        ASSERT_EQ(response->completions.load(), 1);
    }
    EXPECT_EQ(sim_->bus.PendingTransfers(), 0);
    // Every round's answer either completed a read or still waits in the camera.
    EXPECT_LE(cancelled, 300);
}

TEST_F(UsbBusTest, TransferThroughADescriptorOfPartOfABuffer) {
    Started();
    sim_->camera.SetImageSource([](uint8_t* buffer, uint32_t length, uint32_t* produced) {
        std::fill(buffer, buffer + length, 0x5A);
        *produced = length;
        return true;
    });
    std::vector<uint8_t> frame(300, 0);
    MDL* whole = IoAllocateMdl(frame.data(), 300, false, false, nullptr);
    MmBuildMdlForNonPagedPool(whole);
    MDL* part = IoAllocateMdl(frame.data(), 300, false, false, nullptr);
    IoBuildPartialMdl(whole, part, frame.data() + 100, 100);
    auto image = Transfer(kImagePipe, 100);
    image->urb.UrbBulkOrInterruptTransfer.TransferBuffer = nullptr;
    image->urb.UrbBulkOrInterruptTransfer.TransferBufferMDL = part;
    image->Send();
    EXPECT_EQ(image->Wait(), STATUS_SUCCESS);
    EXPECT_EQ(frame[99], 0);
    EXPECT_EQ(frame[100], 0x5A);
    EXPECT_EQ(frame[199], 0x5A);
    EXPECT_EQ(frame[200], 0);
    IoFreeMdl(part);
    IoFreeMdl(whole);
}

TEST_F(UsbBusTest, RefusedTransfersNeverReachTheCamera) {
    struct Case {
        const char* name;
        void (*spoil)(URB& urb, UsbBusTest& test);
        NTSTATUS status;
    };
    const Case cases[] = {
        {"foreign handle",
         [](URB& urb, UsbBusTest&) { urb.UrbBulkOrInterruptTransfer.PipeHandle = &urb; },
         STATUS_INVALID_PARAMETER},
        {"stale handle after the device stopped", [](URB&, UsbBusTest& test) { test.sim_->Stop(); },
         STATUS_INVALID_PARAMETER},
        {"longer than the pipe's limit",
         [](URB& urb, UsbBusTest& test) {
             test.sim_->bus.SetMaximumTransferSize(32);
             test.sim_->Stop();
             test.sim_->Start();
             urb.UrbBulkOrInterruptTransfer.PipeHandle = test.Pipe(kCommandPipe).PipeHandle;
         },
         STATUS_INVALID_PARAMETER},
        {"no buffer",
         [](URB& urb, UsbBusTest&) { urb.UrbBulkOrInterruptTransfer.TransferBuffer = nullptr; },
         STATUS_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        Started();
        auto command = Transfer(kCommandPipe);
        c.spoil(command->urb, *this);
        size_t before = sim_->camera.ReceivedCommands().size();
        EXPECT_EQ(command->Send(), c.status) << c.name;
        EXPECT_EQ(command->completions.load(), 1) << c.name;
        EXPECT_EQ(sim_->camera.ReceivedCommands().size(), before) << c.name;
        sim_.reset();
    }
}

TEST_F(UsbBusTest, InjectedFaultTakesOnlyTheNumberedRequest) {
    Started();
    size_t before = sim_->camera.ReceivedCommands().size();
    sim_->bus.InjectFault(
        {BusRequestKind::BulkOrInterrupt, 2, STATUS_SUCCESS, USBD_STATUS_STALL_PID, 0x01});
    std::vector<USBD_STATUS> statuses;
    for (int i = 0; i < 3; ++i) {
        auto command = Transfer(kCommandPipe);
        command->Send();
        EXPECT_EQ(command->Wait(), STATUS_SUCCESS);
        statuses.push_back(command->urb.UrbHeader.Status);
    }
    EXPECT_EQ(statuses, (std::vector<USBD_STATUS>{USBD_STATUS_SUCCESS, USBD_STATUS_STALL_PID,
                                                  USBD_STATUS_SUCCESS}));
    EXPECT_EQ(sim_->camera.ReceivedCommands().size(), before + 2);
}

NTSTATUS SendPipeRequest(SimDevice& sim, uint16_t function, USBD_PIPE_HANDLE pipe) {
    URB urb{};
    urb.UrbHeader.Length = sizeof(_URB_PIPE_REQUEST);
    urb.UrbHeader.Function = function;
    urb.UrbPipeRequest.PipeHandle = pipe;
    return SendInternalRequest(sim.bus.PhysicalDevice(), IOCTL_INTERNAL_USB_SUBMIT_URB, &urb);
}

TEST_F(UsbBusTest, AbortEndsPendingTransfersAndResetClearsAHalt) {
    Started();
    auto image = Transfer(kImagePipe);
    image->Send();
    EXPECT_EQ(SendPipeRequest(*sim_, URB_FUNCTION_ABORT_PIPE, Pipe(kImagePipe).PipeHandle),
              STATUS_SUCCESS);
    EXPECT_EQ(image->Wait(), STATUS_CANCELLED);

    sim_->camera.AddFault({sim::kCommandEndpoint, 1, sim::SimFaultAction::Stall});
    for (NTSTATUS expected : {STATUS_UNSUCCESSFUL, STATUS_UNSUCCESSFUL}) {
        auto command = Transfer(kCommandPipe);
        command->Send();
        EXPECT_EQ(command->Wait(), expected);
        EXPECT_EQ(command->urb.UrbHeader.Status, USBD_STATUS_STALL_PID);
    }
    EXPECT_EQ(SendPipeRequest(*sim_, URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL,
                              Pipe(kCommandPipe).PipeHandle),
              STATUS_SUCCESS);
    EXPECT_EQ(sim_->camera.HaltsCleared(sim::kCommandEndpoint), 1);
    auto command = Transfer(kCommandPipe);
    command->Send();
    EXPECT_EQ(command->Wait(), STATUS_SUCCESS);
    BusRecord reset = sim_->Records(BusRequestKind::ResetPipe).back();
    EXPECT_EQ(reset.setup.bRequest, USB_REQUEST_CLEAR_FEATURE);
    EXPECT_EQ(reset.setup.wIndex, 0x01);
}

TEST_F(UsbBusTest, RemovingTheBusEndsWhatIsStillPending) {
    Started();
    auto response = Transfer(kResponsePipe);
    response->Send();
    sim_.reset();
    EXPECT_EQ(response->completions.load(), 1);
    EXPECT_EQ(response->irp->IoStatus.Status, STATUS_CANCELLED);
}

TEST_F(UsbBusTest, PortRequests) {
    sim::SimCameraOptions options;
    options.portStatus = USBD_PORT_CONNECTED;
    SimDevice& sim = Started(options);
    uint32_t status = 0;
    DEVICE_OBJECT* bus = sim.bus.PhysicalDevice();
    EXPECT_EQ(SendInternalRequest(bus, IOCTL_INTERNAL_USB_GET_PORT_STATUS, &status),
              STATUS_SUCCESS);
    EXPECT_EQ(status, USBD_PORT_CONNECTED);
    EXPECT_EQ(SendInternalRequest(bus, IOCTL_INTERNAL_USB_RESET_PORT, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(sim.camera.PortResets(), 1);
    EXPECT_EQ(SendInternalRequest(bus, IOCTL_INTERNAL_USB_GET_PORT_STATUS, nullptr),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(SendInternalRequest(bus, 0x12345, nullptr), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(sim.Records(BusRequestKind::ResetPort).size(), 1u);
}

}  // namespace
}  // namespace bayercam
