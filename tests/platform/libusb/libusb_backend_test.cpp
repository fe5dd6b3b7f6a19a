// The libusb backend against an emulated device: everything here goes through the real libusb
// and its usbfs code, down to the ioctls.
#include <gtest/gtest.h>
#include <linux/usbdevice_fs.h>

#include <cstring>
#include <memory>
#include <thread>

#include "platform/libusb/libusb_context.h"
#include "platform/libusb/loopback_device.h"
#include "platform/libusb/tracked_transfer.h"
#include "platform/libusb/usb_device_list.h"
#include "platform/libusb/usbfs_device.h"

namespace bayercam::test {
namespace {

using Loopback = LoopbackDevice;

std::vector<uint8_t> Command(uint8_t code, uint32_t argument = 0) {
    std::vector<uint8_t> packet(64, 0);
    packet[0] = code;
    std::memcpy(&packet[1], &argument, sizeof argument);
    return packet;
}

class LibusbBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device_ = std::make_unique<UsbfsDevice>(testbed_, model_, UsbfsPlacement{1, {3, 1}, 5});
        UsbDeviceSelector selector;
        std::string error;
        ASSERT_TRUE(ParseUsbDeviceSelector("1209:bc01", "", &selector, &error)) << error;
        UsbOpenResult opened = OpenUsbCamera(selector);
        ASSERT_TRUE(opened.backend) << opened.error;
        backend_ = std::move(opened.backend);
        ASSERT_EQ(backend_->SetConfiguration(1), USBD_STATUS_SUCCESS);
    }
    void TearDown() override {
        backend_.reset();
        device_.reset();
    }

    USBD_STATUS Send(uint8_t code, uint32_t argument = 0) {
        TrackedTransfer command(Loopback::kCommand, 64, Command(code, argument));
        USBD_STATUS submitted = backend_->Submit(command.get());
        if (!USBD_SUCCESS(submitted)) return submitted;
        EXPECT_TRUE(command.Wait());
        EXPECT_EQ(command.actualLength(), 64u);
        return command.status();
    }

    UsbfsTestbed testbed_;
    Loopback model_;
    std::unique_ptr<UsbfsDevice> device_;
    std::unique_ptr<UsbBackend> backend_;
};

TEST_F(LibusbBackendTest, StandardRequestsReachTheDevice) {
    USB_DEVICE_DESCRIPTOR device{};
    uint32_t transferred = 0;
    ASSERT_EQ(backend_->ControlTransfer({0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0100, 0, 18},
                                        reinterpret_cast<uint8_t*>(&device), &transferred),
              USBD_STATUS_SUCCESS);
    EXPECT_EQ(transferred, 18u);
    EXPECT_EQ(device.idVendor, Loopback::kVendorId);
    EXPECT_EQ(device.idProduct, Loopback::kProductId);

    uint8_t configuration[64] = {};
    ASSERT_EQ(backend_->ControlTransfer({0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0200, 0, 9},
                                        configuration, &transferred),
              USBD_STATUS_SUCCESS);
    const uint16_t total = configuration[2] | configuration[3] << 8;
    EXPECT_EQ(total, 9 + 9 + 3 * 7);
    ASSERT_EQ(backend_->ControlTransfer({0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0200, 0, total},
                                        configuration, &transferred),
              USBD_STATUS_SUCCESS);
    EXPECT_EQ(transferred, total);
    EXPECT_EQ(configuration[9 + 9 + 7 + 2], Loopback::kResponse);

    // A request the device does not know is stalled, and the stall is what the caller sees.
    EXPECT_EQ(backend_->ControlTransfer({0x80, USB_REQUEST_GET_DESCRIPTOR, 0x2100, 0, 9},
                                        configuration, &transferred),
              USBD_STATUS_STALL_PID);
    EXPECT_EQ(transferred, 0u);
}

TEST_F(LibusbBackendTest, ConfigurationClaimsInterfaceAndUnconfiguringReleasesIt) {
    EXPECT_EQ(model_.configuration(), 1);
    EXPECT_EQ(backend_->PortStatus(), USBD_PORT_CONNECTED | USBD_PORT_ENABLED);
    // Linux refuses a configuration change while the interface is claimed, so selecting the
    // configuration again only works if the backend lets go of it first.
    ASSERT_EQ(backend_->SetConfiguration(1), USBD_STATUS_SUCCESS);
    EXPECT_EQ(Send(Loopback::kEcho), USBD_STATUS_SUCCESS);

    ASSERT_EQ(backend_->SetConfiguration(0), USBD_STATUS_SUCCESS);
    EXPECT_EQ(model_.configuration(), 0);
    TrackedTransfer read(Loopback::kImage, 64);
    EXPECT_EQ(backend_->Submit(read.get()), USBD_STATUS_INVALID_PARAMETER);

    ASSERT_EQ(backend_->SetConfiguration(1), USBD_STATUS_SUCCESS);
    UsbfsCounters counters = device_->Counters();
    EXPECT_EQ(counters.claims - counters.releases, 1);
    EXPECT_TRUE(counters.unknownRequests.empty());
    EXPECT_EQ(read.completions(), 0);
}

TEST_F(LibusbBackendTest, TransfersUseTheEndpointTypeAndCompleteOnAnotherThread) {
    TrackedTransfer response(Loopback::kResponse, 64);
    ASSERT_EQ(backend_->Submit(response.get()), USBD_STATUS_SUCCESS);
    std::vector<uint8_t> echo = Command(Loopback::kEcho);
    echo[1] = 0x5a;
    TrackedTransfer command(Loopback::kCommand, 64, echo);
    ASSERT_EQ(backend_->Submit(command.get()), USBD_STATUS_SUCCESS);
    ASSERT_TRUE(command.Wait());
    ASSERT_TRUE(response.Wait());
    EXPECT_EQ(response.status(), USBD_STATUS_SUCCESS);
    EXPECT_EQ(response.actualLength(), 64u);
    EXPECT_EQ(response.data()[1], 0x5a);
    EXPECT_NE(response.completionThread(), std::this_thread::get_id());
    EXPECT_NE(command.completionThread(), std::this_thread::get_id());

    UsbfsCounters counters = device_->Counters();
    EXPECT_EQ(counters.urbType[Loopback::kCommand], USBDEVFS_URB_TYPE_BULK);
    EXPECT_EQ(counters.urbType[Loopback::kResponse], USBDEVFS_URB_TYPE_INTERRUPT);
}

TEST_F(LibusbBackendTest, FrameReadQueuedAheadOfTheDataArrivesWhole) {
    constexpr uint32_t kChunk = 65536;
    constexpr uint32_t kFrame = 1360 * 1024;
    constexpr size_t kChunks = (kFrame + kChunk - 1) / kChunk;
    std::vector<std::unique_ptr<TrackedTransfer>> chunks;
    for (size_t i = 0; i < kChunks; ++i) {
        chunks.push_back(std::make_unique<TrackedTransfer>(Loopback::kImage, kChunk));
        ASSERT_EQ(backend_->Submit(chunks.back()->get()), USBD_STATUS_SUCCESS);
    }
    EXPECT_EQ(device_->PendingUrbs(), kChunks);
    ASSERT_EQ(Send(Loopback::kStream, kFrame), USBD_STATUS_SUCCESS);

    size_t offset = 0;
    for (size_t i = 0; i < kChunks; ++i) {
        ASSERT_TRUE(chunks[i]->Wait());
        EXPECT_EQ(chunks[i]->status(), USBD_STATUS_SUCCESS);
        EXPECT_EQ(chunks[i]->actualLength(), i + 1 < kChunks ? kChunk : kFrame % kChunk);
        if (i > 0) {
            EXPECT_LT(chunks[i - 1]->order(), chunks[i]->order());
        }
        const std::vector<uint8_t>& data = chunks[i]->data();
        size_t wrong = 0;
        for (uint32_t k = 0; k < chunks[i]->actualLength(); ++k)
            wrong += data[k] != Loopback::Pattern(offset + k);
        EXPECT_EQ(wrong, 0u) << "chunk " << i;
        offset += chunks[i]->actualLength();
    }
    EXPECT_EQ(offset, kFrame);
}

struct SingleReadCase {
    const char* name;
    uint8_t command;
    uint32_t argument;
    uint8_t endpoint;
    uint32_t length;
    USBD_STATUS status;
    uint32_t actualLength;
};

class SingleReadTest : public LibusbBackendTest,
                       public ::testing::WithParamInterface<SingleReadCase> {};

TEST_P(SingleReadTest, StatusAndLengthReachTheCaller) {
    const SingleReadCase& c = GetParam();
    ASSERT_EQ(Send(c.command, c.argument), USBD_STATUS_SUCCESS);
    TrackedTransfer read(c.endpoint, c.length);
    ASSERT_EQ(backend_->Submit(read.get()), USBD_STATUS_SUCCESS);
    ASSERT_TRUE(read.Wait());
    EXPECT_EQ(read.status(), c.status);
    EXPECT_EQ(read.actualLength(), c.actualLength);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, SingleReadTest,
    ::testing::Values(SingleReadCase{"Packet", Loopback::kEcho, 0, Loopback::kResponse, 64,
                                     USBD_STATUS_SUCCESS, 64},
                      SingleReadCase{"ShortTransfer", Loopback::kStream, 10, Loopback::kImage, 512,
                                     USBD_STATUS_SUCCESS, 10},
                      SingleReadCase{"BufferTooSmall", Loopback::kEcho, 0, Loopback::kResponse, 32,
                                     USBD_STATUS_BABBLE_DETECTED, 32},
                      SingleReadCase{"Stall", Loopback::kStall, 0, Loopback::kImage, 64,
                                     USBD_STATUS_STALL_PID, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LibusbBackendTest, CancelEndsAReadThatNeverCompletesExactlyOnce) {
    TrackedTransfer stuck(Loopback::kImage, 512);
    ASSERT_EQ(backend_->Submit(stuck.get()), USBD_STATUS_SUCCESS);
    EXPECT_EQ(device_->PendingUrbs(), 1u);
    backend_->Cancel(stuck.get());
    ASSERT_TRUE(stuck.Wait());
    EXPECT_EQ(stuck.status(), USBD_STATUS_CANCELED);
    EXPECT_EQ(stuck.actualLength(), 0u);
    backend_->Cancel(stuck.get());  // already complete: nothing happens

    // The cancelled read took none of the data that arrives later.
    ASSERT_EQ(Send(Loopback::kStream, 10), USBD_STATUS_SUCCESS);
    TrackedTransfer next(Loopback::kImage, 512);
    ASSERT_EQ(backend_->Submit(next.get()), USBD_STATUS_SUCCESS);
    ASSERT_TRUE(next.Wait());
    EXPECT_EQ(next.actualLength(), 10u);
    EXPECT_EQ(next.data()[0], Loopback::Pattern(0));
    EXPECT_EQ(stuck.completions(), 1);
    EXPECT_GE(device_->Counters().discarded, 1);
}

TEST_F(LibusbBackendTest, CancelRacingCompletionCompletesEveryTransferOnce) {
    constexpr int kRounds = 100;
    std::vector<std::unique_ptr<TrackedTransfer>> reads;
    for (int round = 0; round < kRounds; ++round) {
        reads.push_back(std::make_unique<TrackedTransfer>(Loopback::kImage, 16));
        TrackedTransfer& read = *reads.back();
        ASSERT_EQ(backend_->Submit(read.get()), USBD_STATUS_SUCCESS);
        std::thread feeder([this] { Send(Loopback::kStream, 16); });
        backend_->Cancel(read.get());
        feeder.join();
        ASSERT_TRUE(read.Wait());
        EXPECT_TRUE(read.status() == USBD_STATUS_SUCCESS || read.status() == USBD_STATUS_CANCELED)
            << std::hex << read.status();
    }
    backend_.reset();  // waits for anything still on its way
    for (auto& read : reads) EXPECT_EQ(read->completions(), 1);
}

TEST_F(LibusbBackendTest, AbortEndpointCancelsOnlyThatEndpoint) {
    TrackedTransfer image1(Loopback::kImage, 64), image2(Loopback::kImage, 64);
    TrackedTransfer response(Loopback::kResponse, 64);
    for (TrackedTransfer* read : {&image1, &image2, &response})
        ASSERT_EQ(backend_->Submit(read->get()), USBD_STATUS_SUCCESS);
    backend_->AbortEndpoint(Loopback::kImage);
    ASSERT_TRUE(image1.Wait());
    ASSERT_TRUE(image2.Wait());
    EXPECT_EQ(image1.status(), USBD_STATUS_CANCELED);
    EXPECT_EQ(image2.status(), USBD_STATUS_CANCELED);
    EXPECT_EQ(device_->PendingUrbs(), 1u);
    EXPECT_EQ(response.completions(), 0);
    backend_->Cancel(response.get());
    ASSERT_TRUE(response.Wait());
}

TEST_F(LibusbBackendTest, ClearHaltEndsAStall) {
    ASSERT_EQ(Send(Loopback::kStall), USBD_STATUS_SUCCESS);
    for (int attempt = 0; attempt < 2; ++attempt) {
        TrackedTransfer read(Loopback::kImage, 64);
        ASSERT_EQ(backend_->Submit(read.get()), USBD_STATUS_SUCCESS);
        ASSERT_TRUE(read.Wait());
        EXPECT_EQ(read.status(), USBD_STATUS_STALL_PID) << "attempt " << attempt;
    }
    EXPECT_EQ(backend_->ClearHalt(Loopback::kImage), USBD_STATUS_SUCCESS);
    ASSERT_EQ(Send(Loopback::kStream, 10), USBD_STATUS_SUCCESS);
    TrackedTransfer read(Loopback::kImage, 64);
    ASSERT_EQ(backend_->Submit(read.get()), USBD_STATUS_SUCCESS);
    ASSERT_TRUE(read.Wait());
    EXPECT_EQ(read.status(), USBD_STATUS_SUCCESS);
    EXPECT_EQ(read.actualLength(), 10u);
    EXPECT_EQ(device_->Counters().clearHalts, 1);
}

TEST_F(LibusbBackendTest, ResetPortEndsPendingTransfersAndKeepsTheInterface) {
    TrackedTransfer pending(Loopback::kImage, 64);
    ASSERT_EQ(backend_->Submit(pending.get()), USBD_STATUS_SUCCESS);
    EXPECT_EQ(backend_->ResetPort(), STATUS_SUCCESS);
    ASSERT_TRUE(pending.Wait());
    EXPECT_EQ(pending.status(), USBD_STATUS_CANCELED);
    EXPECT_EQ(model_.resets(), 1);
    EXPECT_EQ(device_->Counters().resets, 1);
    // Still claimed and configured: the exchange works as before.
    EXPECT_EQ(Send(Loopback::kEcho), USBD_STATUS_SUCCESS);
    TrackedTransfer response(Loopback::kResponse, 64);
    ASSERT_EQ(backend_->Submit(response.get()), USBD_STATUS_SUCCESS);
    ASSERT_TRUE(response.Wait());
    EXPECT_EQ(response.status(), USBD_STATUS_SUCCESS);
    EXPECT_EQ(pending.completions(), 1);
}

TEST_F(LibusbBackendTest, ClosingWithTransfersInFlightCompletesThem) {
    std::vector<std::unique_ptr<TrackedTransfer>> reads;
    for (int i = 0; i < 3; ++i) {
        reads.push_back(std::make_unique<TrackedTransfer>(Loopback::kImage, 64));
        ASSERT_EQ(backend_->Submit(reads.back()->get()), USBD_STATUS_SUCCESS);
    }
    backend_.reset();
    for (auto& read : reads) {
        EXPECT_EQ(read->completions(), 1);
        EXPECT_EQ(read->status(), USBD_STATUS_CANCELED);
    }
    EXPECT_EQ(device_->Counters().discarded, 3);  // cancelled on the device, not given up on
    EXPECT_EQ(model_.pendingTransfers(), 0u);
}

TEST_F(LibusbBackendTest, LastCloseEndsTheSharedContext) {
    std::string error;
    std::weak_ptr<LibusbContext> shared = LibusbContext::Acquire(&error);
    ASSERT_FALSE(shared.expired()) << error;  // the open backend holds it
    EXPECT_EQ(ListUsbCameras().devices.size(), 1u);
    backend_.reset();
    EXPECT_TRUE(shared.expired());
}

TEST_F(LibusbBackendTest, SubmitRefusesWhatCannotBeSent) {
    TrackedTransfer unknown(0x84, 64);
    EXPECT_EQ(backend_->Submit(unknown.get()), USBD_STATUS_INVALID_PARAMETER);
    TrackedTransfer noBuffer(Loopback::kImage, 64);
    noBuffer.get()->buffer = nullptr;
    EXPECT_EQ(backend_->Submit(noBuffer.get()), USBD_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(unknown.completions() + noBuffer.completions(), 0);
}

// Unplugged with a read in flight, or idle (then only the hotplug monitor tells).
class UnplugTest : public LibusbBackendTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnplugTest, PendingReadFailsAndLaterRequestsFailAtOnce) {
    const bool readInFlight = GetParam();
    TrackedTransfer pending(Loopback::kImage, 64);
    if (readInFlight) {
        ASSERT_EQ(backend_->Submit(pending.get()), USBD_STATUS_SUCCESS);
    }
    device_->Unplug();
    if (readInFlight) {
        ASSERT_TRUE(pending.Wait());
        EXPECT_EQ(pending.status(), USBD_STATUS_DEVICE_GONE);
    } else {
        // The removal event travels through libusb's monitor thread; wait for it to land.
        for (int i = 0; i < 3000 && backend_->PortStatus() != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(backend_->PortStatus(), 0u);
    TrackedTransfer later(Loopback::kImage, 64);
    EXPECT_EQ(backend_->Submit(later.get()), USBD_STATUS_DEVICE_GONE);
    uint8_t descriptor[18];
    uint32_t transferred = 0;
    EXPECT_EQ(backend_->ControlTransfer({0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0100, 0, 18},
                                        descriptor, &transferred),
              USBD_STATUS_DEVICE_GONE);
    EXPECT_EQ(backend_->ClearHalt(Loopback::kImage), USBD_STATUS_DEVICE_GONE);
    EXPECT_EQ(backend_->ResetPort(), STATUS_DEVICE_NOT_CONNECTED);
    backend_.reset();
    EXPECT_EQ(later.completions(), 0);
    EXPECT_EQ(pending.completions(), readInFlight ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Removal, UnplugTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "ReadInFlight" : "Idle"; });

}  // namespace
}  // namespace bayercam::test
