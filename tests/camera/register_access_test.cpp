#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "camera/register_access.h"
#include "platform/kernel/pool.h"
#include "simcam/command_dispatcher.h"
#include "support/sim_device.h"
#include "support/wire_log.h"

namespace bayercam {
namespace {

using testing::SimDevice;
using testing::SimDeviceTest;
using testing::WireLog;
using Lines = std::vector<std::string>;

class RegisterAccessTest : public SimDeviceTest {
  protected:
    void SetUp() override {
        SimDeviceTest::SetUp();
        Restart();
    }
    // A started camera with the recorder emptied after the start-up traffic.
    void Restart() {
        sim_.reset();
        Started();
        sim_->bus.Recorder().Clear();
    }
    CameraDevice* device() { return sim_->device(); }
    std::vector<BusRecord> Commands() {
        std::vector<BusRecord> commands;
        for (BusRecord& r : sim_->Records(BusRequestKind::BulkOrInterrupt)) {
            if (r.endpoint == sim::kCommandEndpoint) commands.push_back(std::move(r));
        }
        return commands;
    }
    Lines Wire() { return WireLog(sim_->Records()); }
};

TEST_F(RegisterAccessTest, SensorWriteSerialWordAndShadow) {
    struct Case {
        uint32_t address;
        int32_t value;
        std::vector<uint8_t> bytes;  // bytes 0..5 of the packet
        uint32_t cameraValue;        // what the sensor register holds afterwards
    };
    const Case cases[] = {
        {6, 37, {0x04, 0x10, 0x06, 0x94, 0x00, 0x00}, 37},
        {384, 0x35001, {0x04, 0x20, 0x80, 0x05, 0x40, 0x0D}, 0x35001},
        {300, 0x1234, {0x04, 0x1A, 0x2C, 0xD1, 0x48, 0x00}, 0x1234},
        {6, 100, {0x04, 0x10, 0x06, 0x90, 0x00, 0x00}, 36},
        {255, 0xFFF, {0x04, 0x10, 0xFF, 0xFC, 0x00, 0x00}, 63},
        {256, 0x1FFFF, {0x04, 0x1A, 0x00, 0xFD, 0xFF, 0x03}, 0xFFFF},
        {383, 0x1FFFF, {0x04, 0x1A, 0x7F, 0xFD, 0xFF, 0x03}, 0xFFFF},
        {384, -1, {0x04, 0x20, 0x80, 0xFD, 0xFF, 0xFF}, 0x3FFFFF},
        {1023, 0x523456, {0x04, 0x20, 0xFF, 0x5B, 0xD1, 0x48}, 0x123456},
        {1024 + 6, 37, {0x04, 0x20, 0x06, 0x94, 0x00, 0x00}, 37},
        {0xFFFFFFFF, 1, {0x04, 0x20, 0xFF, 0x07, 0x00, 0x00}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.address << " = " << c.value);
        Restart();
        int32_t before[kRegisterShadowSize];
        std::copy(std::begin(device()->registerShadow), std::end(device()->registerShadow), before);
        ASSERT_TRUE(WriteSensorRegister(device(), c.address, c.value));
        std::vector<BusRecord> sent = Commands();
        ASSERT_EQ(sent.size(), 1u);
        std::vector<uint8_t> expected = c.bytes;
        expected.resize(64, 0);
        EXPECT_EQ(sent[0].data, expected);
        uint32_t slot = c.address & 0x3FF;
        EXPECT_EQ(sim_->camera.SensorRegister(static_cast<int>(slot)), c.cameraValue);
        for (uint32_t a = 0; a < kRegisterShadowSize; ++a) {
            int32_t wanted = a == c.address ? c.value : before[a];
            ASSERT_EQ(device()->registerShadow[a], wanted) << a;
        }
    }
}

TEST_F(RegisterAccessTest, FailedWriteLeavesShadowAlone) {
    struct Case {
        const char* name;
        sim::SimFaultAction action;
    };
    const Case cases[] = {
        {"error", sim::SimFaultAction::Error},
        {"short", sim::SimFaultAction::Short},
        {"stall", sim::SimFaultAction::Stall},
    };
    for (const Case& c : cases) {
        Restart();
        device()->registerShadow[6] = 5;
        sim_->camera.AddFault({sim::kCommandEndpoint, 1, c.action, 10});
        EXPECT_FALSE(WriteSensorRegister(device(), 6, 37)) << c.name;
        EXPECT_EQ(device()->registerShadow[6], 5) << c.name;
    }
}

TEST_F(RegisterAccessTest, LogicWriteCutsRegisterAndValueToABytes) {
    EXPECT_TRUE(WriteLogicRegister(device(), 0x10F, 0x1AB));
    EXPECT_EQ(Wire(), (Lines{"L15=171"}));
    EXPECT_EQ(sim_->camera.LogicRegister(15), 0xAB);
    std::vector<BusRecord> sent = Commands();
    ASSERT_EQ(sent.size(), 1u);
    for (size_t i = 3; i < 64; ++i) EXPECT_EQ(sent[0].data[i], 0) << i;
}

// The reads give their value only when the command and both answers were whole; otherwise the
// caller's value stays, and the read goes no further than the first failure.
TEST_F(RegisterAccessTest, ReadsKeepTheOldValueUnlessEveryTransferWasWhole) {
    struct Case {
        const char* name;
        uint8_t endpoint;  // where the fault goes; 0: none
        uint32_t packet;
        sim::SimFaultAction action;
        bool ok;
        Lines wire;
    };
    using sim::SimFaultAction;
    const Case cases[] = {
        {"whole", 0, 0, SimFaultAction::Error, true, {"R15", "<", "<"}},
        {"command fails", sim::kCommandEndpoint, 1, SimFaultAction::Error, false, {"R15"}},
        {"first answer fails",
         sim::kResponseEndpoint,
         1,
         SimFaultAction::Error,
         false,
         {"R15", "<short"}},
        {"first answer short",
         sim::kResponseEndpoint,
         1,
         SimFaultAction::Short,
         false,
         {"R15", "<short"}},
        {"second answer short",
         sim::kResponseEndpoint,
         2,
         SimFaultAction::Short,
         false,
         {"R15", "<", "<short"}},
        {"second answer stalls",
         sim::kResponseEndpoint,
         2,
         SimFaultAction::Stall,
         false,
         {"R15", "<", "<short"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        sim_->camera.SetLogicRegister(15, 4);
        if (c.endpoint) sim_->camera.AddFault({c.endpoint, c.packet, c.action, 32});
        uint8_t value = 99;
        EXPECT_EQ(ReadLogicRegister(device(), 15, &value), c.ok);
        EXPECT_EQ(value, c.ok ? 4 : 99);
        EXPECT_EQ(Wire(), c.wire);

        // The memory read follows the same rule with the byte at the selected address.
        Restart();
        device()->selectedRegister = 0x1234;
        if (c.endpoint) sim_->camera.AddFault({c.endpoint, c.packet, c.action, 32});
        value = 99;
        ReadMemoryByte(device(), &value);
        EXPECT_EQ(value, c.ok ? sim::SimMemoryByte(0x1234) : 99);
        Lines wire = c.wire;
        wire[0] = "M12.34";
        EXPECT_EQ(Wire(), wire);
    }
}

// The address comes from `selectedRegister`, high byte first, cut to 16 bits. The camera answers
// only a read with the right fixed bytes.
TEST_F(RegisterAccessTest, MemoryReadAddressBytes) {
    struct Case {
        int32_t selected;
        const char* wire;
        uint16_t address;
    };
    const Case cases[] = {
        {0x00FF, "M00.FF", 0x00FF}, {0x12345, "M23.45", 0x2345}, {-1, "MFF.FF", 0xFFFF}};
    for (const Case& c : cases) {
        Restart();
        device()->selectedRegister = c.selected;
        uint8_t value = 0;
        ReadMemoryByte(device(), &value);
        EXPECT_EQ(value, sim::SimMemoryByte(c.address)) << c.selected;
        EXPECT_EQ(Wire(), (Lines{c.wire, "<", "<"})) << c.selected;
    }
    ReadMemoryByte(device(), nullptr);  // nothing to store, and nothing breaks
}

TEST_F(RegisterAccessTest, RawCommandCarriesAtMost63CallerBytes) {
    std::vector<uint8_t> bytes(100);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i + 1);
    struct Case {
        int32_t count;
        const uint8_t* bytes;
        size_t carried;
    };
    const Case cases[] = {
        {0, bytes.data(), 0},   {-5, bytes.data(), 0},   {3, bytes.data(), 3},
        {63, bytes.data(), 63}, {100, bytes.data(), 63}, {10, nullptr, 0},
    };
    for (const Case& c : cases) {
        sim_->bus.Recorder().Clear();
        // Stale bytes of an earlier command must not leak into this one.
        WriteLogicRegister(device(), 0xEE, 0xEE);
        sim_->bus.Recorder().Clear();
        SendRawCommand(device(), c.count, c.bytes);
        std::vector<uint8_t> expected(64, 0);
        expected[0] = 0x40;
        std::copy(bytes.begin(), bytes.begin() + static_cast<long>(c.carried),
                  expected.begin() + 1);
        ASSERT_EQ(Commands().size(), 1u) << c.count;
        EXPECT_EQ(Commands()[0].data, expected) << c.count;
    }
}

// Each operation is one command and its answers; two threads sharing the device never see
// their packets mixed on the wire, and every read gets its own register's value.
TEST_F(RegisterAccessTest, ConcurrentOperationsNeverInterleave) {
    sim_->camera.SetLogicRegister(15, 2);
    sim_->camera.SetLogicRegister(16, 7);
    constexpr int kRounds = 150;
    int wrongReads = 0;
    std::thread reader([&] {
        for (int i = 0; i < kRounds; ++i) {
            uint8_t value = 0;
            if (!ReadLogicRegister(device(), 15, &value) || value != 2) ++wrongReads;
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        uint8_t value = 0;
        WriteSensorRegister(device(), 400, i);
        ReadMemoryByte(device(), &value);
        if (!ReadLogicRegister(device(), 16, &value) || value != 7) ++wrongReads;
    }
    reader.join();
    EXPECT_EQ(wrongReads, 0);

    Lines wire = Wire();
    ASSERT_EQ(wire.size(), static_cast<size_t>(kRounds * (3 + 3 + 1 + 3)));
    for (size_t i = 0; i < wire.size(); ++i) {
        bool read = wire[i][0] == 'R' || wire[i][0] == 'M';
        if (!read) {
            ASSERT_NE(wire[i], "<") << "an answer without its read at " << i;
            continue;
        }
        ASSERT_LT(i + 2, wire.size());
        ASSERT_EQ(wire[i + 1], "<") << i;
        ASSERT_EQ(wire[i + 2], "<") << i;
        i += 2;
    }
}

}  // namespace
}  // namespace bayercam
