#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "platform/kernel/pool.h"
#include "support/sim_device.h"
#include "usb/packet_transfer.h"

namespace bayercam {
namespace {

using testing::SimDevice;
using testing::SimDeviceTest;

class PacketTransferTest : public SimDeviceTest {
  protected:
    std::vector<BusRecord> Transfers() { return sim_->Records(BusRequestKind::BulkOrInterrupt); }
};

TEST_F(PacketTransferTest, ValidationAndResults) {
    struct Case {
        const char* name;
        sim::SimCameraOptions options;
        // Runs after the start, before the transfer.
        std::function<void(SimDevice&)> prepare;
        uint32_t pipe;
        NTSTATUS status;
        uint32_t transferred;
        size_t sent;
    };
    sim::SimCameraOptions isochronous, interrupt, noPipes;
    isochronous.interfaces[0].endpoints[0].attributes = sim::kIsochronous;
    interrupt.interfaces[0].endpoints[0].attributes = sim::kInterrupt;
    noPipes.interfaces = {{0, {}}};
    const Case cases[] = {
        {"command", {}, nullptr, kCommandPipe, STATUS_SUCCESS, 64, 1},
        {"not configured",
         {},
         [](SimDevice& s) { s.Stop(); },
         kCommandPipe,
         STATUS_UNSUCCESSFUL,
         0,
         0},
        {"pipe index 3 of three", {}, nullptr, 3, STATUS_INVALID_PARAMETER, 0, 0},
        {"interface without pipes", noPipes, nullptr, kCommandPipe, STATUS_INVALID_PARAMETER, 0, 0},
        {"isochronous pipe", isochronous, nullptr, kCommandPipe, STATUS_INVALID_PARAMETER, 0, 0},
        {"interrupt pipe", interrupt, nullptr, kCommandPipe, STATUS_SUCCESS, 64, 1},
        {"null pipe handle",
         {},
         [](SimDevice& s) { s.device()->usb.interfaceInfo->Pipes[0].PipeHandle = nullptr; },
         kCommandPipe,
         STATUS_UNSUCCESSFUL,
         0,
         0},
        {"maximum transfer below a packet",
         {},
         [](SimDevice& s) { s.device()->usb.interfaceInfo->Pipes[0].MaximumTransferSize = 63; },
         kCommandPipe,
         STATUS_INVALID_PARAMETER,
         0,
         0},
        {"USB error under a successful request",
         {},
         [](SimDevice& s) {
             s.bus.InjectFault(
                 {BusRequestKind::BulkOrInterrupt, 1, STATUS_SUCCESS, USBD_STATUS_STALL_PID});
         },
         kCommandPipe,
         STATUS_UNSUCCESSFUL,
         0,
         1},
        {"request fails in the USB stack",
         {},
         [](SimDevice& s) {
             s.bus.InjectFault({BusRequestKind::BulkOrInterrupt, 1, STATUS_DEVICE_NOT_CONNECTED,
                                USBD_STATUS_DEVICE_GONE});
         },
         kCommandPipe,
         STATUS_DEVICE_NOT_CONNECTED,
         0,
         1},
        {"stalled by the camera",
         {},
         [](SimDevice& s) {
             s.camera.AddFault({sim::kCommandEndpoint, 1, sim::SimFaultAction::Stall});
         },
         kCommandPipe,
         STATUS_UNSUCCESSFUL,
         0,
         1},
        {"URB cannot be allocated",
         {},
         [](SimDevice&) { pool::FailNth(1); },
         kCommandPipe,
         STATUS_INSUFFICIENT_RESOURCES,
         0,
         0},
        {"request cannot be allocated",
         {},
         [](SimDevice&) { pool::FailNth(2); },
         kCommandPipe,
         STATUS_INSUFFICIENT_RESOURCES,
         0,
         0},
    };
    for (const Case& c : cases) {
        SimDevice& sim = Started(c.options);
        sim.bus.Recorder().Clear();
        if (c.prepare) c.prepare(sim);
        uint8_t packet[64] = {0x25, 1, 2};
        uint32_t transferred = 99;
        EXPECT_EQ(TransferPacket(sim.device(), c.pipe, packet, &transferred), c.status) << c.name;
        pool::Reset();
        EXPECT_EQ(transferred, c.transferred) << c.name;
        EXPECT_EQ(Transfers().size(), c.sent) << c.name;
        sim_.reset();
    }
}

TEST_F(PacketTransferTest, CommandGoesOutWholeOnTheCommandEndpoint) {
    SimDevice& sim = Started();
    sim.bus.Recorder().Clear();
    uint8_t packet[64] = {0x04, 16, 0x34, 0x12};
    EXPECT_TRUE(SendCommand(sim.device(), packet));
    std::vector<BusRecord> sent = Transfers();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].endpoint, 0x01);
    EXPECT_EQ(sent[0].data, std::vector<uint8_t>(packet, packet + 64));
    EXPECT_FALSE(SendCommand(sim.device(), nullptr));
    EXPECT_FALSE(ReadResponse(sim.device(), nullptr));
    EXPECT_EQ(Transfers().size(), 1u);
}

TEST_F(PacketTransferTest, ResponseMustBeWholeButAShortOneStaysInTheBuffer) {
    SimDevice& sim = Started();
    std::vector<uint8_t> whole(64, 0x11), half(32, 0x22);
    sim.camera.QueueResponse(whole.data(), 64);
    sim.camera.QueueResponse(half.data(), 32);
    uint8_t buffer[64];
    EXPECT_TRUE(ReadResponse(sim.device(), buffer));
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 64), whole);
    std::fill(buffer, buffer + 64, 0xEE);
    EXPECT_FALSE(ReadResponse(sim.device(), buffer));
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 32), half);
    EXPECT_EQ(buffer[32], 0xEE);
    uint32_t transferred;
    sim.camera.QueueResponse(half.data(), 32);
    EXPECT_EQ(TransferPacket(sim.device(), kResponsePipe, buffer, &transferred), STATUS_SUCCESS);
    EXPECT_EQ(transferred, 32u);
}

TEST_F(PacketTransferTest, EveryPacketThatDoesNotGoThroughWholeIsCounted) {
    struct Case {
        const char* name;
        std::function<void(SimDevice&)> prepare;
        bool (*exchange)(CameraDevice* device, uint8_t* buffer);
        uint32_t failed;
    };
    const std::vector<uint8_t> half(32, 0x22);
    const Case cases[] = {
        {"whole command", nullptr, &SendCommand, 0},
        {"command stalled",
         [](SimDevice& s) {
             s.camera.AddFault({sim::kCommandEndpoint, 1, sim::SimFaultAction::Stall});
         },
         &SendCommand, 1},
        {"command refused by the USB stack",
         [](SimDevice& s) {
             s.bus.InjectFault({BusRequestKind::BulkOrInterrupt, 1, STATUS_DEVICE_NOT_CONNECTED,
                                USBD_STATUS_DEVICE_GONE});
         },
         &SendCommand, 1},
        {"command on a stopped device", [](SimDevice& s) { s.Stop(); }, &SendCommand, 1},
        {"short answer", [&half](SimDevice& s) { s.camera.QueueResponse(half.data(), 32); },
         &ReadResponse, 1},
    };
    for (const Case& c : cases) {
        SimDevice& sim = Started();
        const uint32_t before = sim.device()->failedPackets.load();
        if (c.prepare) c.prepare(sim);
        uint8_t packet[64] = {0x25, 1, 2};
        EXPECT_EQ(c.exchange(sim.device(), packet), c.failed == 0) << c.name;
        EXPECT_EQ(sim.device()->failedPackets.load() - before, c.failed) << c.name;
        // No buffer is no packet: refused before anything is sent, and not counted.
        EXPECT_FALSE(c.exchange(sim.device(), nullptr)) << c.name;
        EXPECT_EQ(sim.device()->failedPackets.load() - before, c.failed) << c.name;
        sim_.reset();
    }
}

TEST_F(PacketTransferTest, DirectionComesFromTheEndpointAddress) {
    sim::SimCameraOptions options;
    options.interfaces[0].endpoints[1].address = 0x02;  // an OUT endpoint at the response index
    SimDevice& sim = Started(options);
    uint8_t packet[64] = {7};
    EXPECT_TRUE(ReadResponse(sim.device(), packet));
    BusRecord record = Transfers().back();
    EXPECT_EQ(record.endpoint, 0x02);
    EXPECT_FALSE(record.in);
}

TEST_F(PacketTransferTest, FrameMarks) {
    sim_ = std::make_unique<SimDevice>();
    ASSERT_EQ(sim_->Add(), STATUS_SUCCESS);
    SendFrameMark(sim_->device(), false);
    SendFrameMark(sim_->device(), true);
    EXPECT_TRUE(sim_->Records().empty());  // nothing before the configuration

    ASSERT_EQ(sim_->Start(), STATUS_SUCCESS);
    sim_->bus.Recorder().Clear();
    for (bool end : {false, true, true}) SendFrameMark(sim_->device(), end);
    std::vector<BusRecord> sent = Transfers();
    ASSERT_EQ(sent.size(), 3u);
    const uint8_t expected[] = {0x02, 0x03, 0x03};
    for (size_t i = 0; i < sent.size(); ++i) {
        std::vector<uint8_t> mark(64, 0);
        mark[0] = expected[i];
        EXPECT_EQ(sent[i].endpoint, 0x01);
        EXPECT_EQ(sent[i].data, mark) << i;
    }
    // A mark that cannot be allocated is not sent, and nothing is reported.
    pool::FailNth(1);
    SendFrameMark(sim_->device(), true);
    EXPECT_EQ(Transfers().size(), 3u);
}

// A camera that never takes or answers a packet: the wait ends at its bound, the request is
// cancelled and awaited, and nothing stays pending in the camera.
TEST_F(PacketTransferTest, SilentCameraTimesOutAndLeavesNothingPending) {
    struct Case {
        const char* name;
        uint32_t pipe;
        bool commandPipeSilent;
    };
    const Case cases[] = {
        {"response pipe never answers", kResponsePipe, false},
        {"command pipe never takes the packet", kCommandPipe, true},
    };
    for (const Case& c : cases) {
        SimDevice& sim = Started();
        sim.bus.Recorder().Clear();
        if (c.commandPipeSilent) {
            sim.camera.AddFault({sim::kCommandEndpoint, 1, sim::SimFaultAction::NoAnswer});
        }
        uint8_t packet[64] = {0x26, 15};
        uint32_t transferred = 99;
        EXPECT_EQ(TransferPacket(sim.device(), c.pipe, packet, &transferred), STATUS_TIMEOUT)
            << c.name;
        EXPECT_EQ(transferred, 0u) << c.name;
        // The request has completed (the bus's own count of it drops just after).
        EXPECT_EQ(sim.camera.PendingTransfers(), 0) << c.name;
        std::vector<BusRecord> sent = Transfers();
        ASSERT_EQ(sent.size(), 1u) << c.name;
        EXPECT_TRUE(sent[0].completed) << c.name;
        EXPECT_EQ(sent[0].usbdStatus, USBD_STATUS_CANCELED) << c.name;
        sim_.reset();
    }

    // The frame-end mark is bounded too, and an answer that comes late is not lost: the next read
    // gets it.
    SimDevice& sim = Started();
    sim.camera.AddFault({sim::kCommandEndpoint, 1, sim::SimFaultAction::NoAnswer});
    SendFrameMark(sim.device(), true);
    uint8_t buffer[64];
    EXPECT_FALSE(ReadResponse(sim.device(), buffer));
    std::vector<uint8_t> late(64, 0x42);
    sim.camera.QueueResponse(late.data(), 64);
    EXPECT_TRUE(ReadResponse(sim.device(), buffer));
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 64), late);
}

}  // namespace
}  // namespace bayercam
