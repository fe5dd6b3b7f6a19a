#include <gtest/gtest.h>

#include <future>
#include <vector>

#include "simcam/command_dispatcher.h"
#include "simcam/sim_camera.h"

namespace bayercam::sim {
namespace {

std::vector<uint8_t> Packet(std::initializer_list<uint8_t> leading, size_t length = 64) {
    std::vector<uint8_t> packet(leading);
    packet.resize(length, 0);
    return packet;
}

// Sends one packet to the camera's command endpoint and waits until the camera has taken it.
void Send(SimCamera& camera, std::vector<uint8_t> packet) {
    std::promise<void> done;
    UsbTransfer transfer{};
    transfer.endpoint = kCommandEndpoint;
    transfer.buffer = packet.data();
    transfer.length = static_cast<uint32_t>(packet.size());
    transfer.context = &done;
    transfer.complete = [](UsbTransfer* t) {
        static_cast<std::promise<void>*>(t->context)->set_value();
    };
    ASSERT_EQ(camera.Submit(&transfer), USBD_STATUS_SUCCESS);
    done.get_future().wait();
}

// Reads one answer from the response endpoint; it must already be waiting.
std::vector<uint8_t> Answer(SimCamera& camera) {
    std::vector<uint8_t> data(64, 0xEE);
    std::promise<void> done;
    UsbTransfer transfer{};
    transfer.endpoint = kResponseEndpoint;
    transfer.buffer = data.data();
    transfer.length = 64;
    transfer.context = &done;
    transfer.complete = [](UsbTransfer* t) {
        static_cast<std::promise<void>*>(t->context)->set_value();
    };
    EXPECT_EQ(camera.Submit(&transfer), USBD_STATUS_SUCCESS);
    done.get_future().wait();
    data.resize(transfer.actualLength);
    return data;
}

TEST(CommandDispatcher, SensorWritesDecodeTheSerialWordByItsWidth) {
    struct Case {
        const char* name;
        std::vector<uint8_t> packet;
        int address;
        uint32_t value;  // the register afterwards, from 0x155555
    };
    const Case cases[] = {
        {"16-bit", Packet({0x04, 0x1A, 0x2C, 0xD1, 0x48, 0x00}), 300, 0x1234},
        // The announced width rules, not the address: bits above it are not shifted in.
        {"6 bits announced for a wide register", Packet({0x04, 0x10, 0x2C, 0xD1, 0x48, 0x00}), 300,
         0x34},
        {"16 bits announced, value bits above", Packet({0x04, 0x1A, 0xFF, 0xFF, 0xFF, 0xFF}), 1023,
         0xFFFF},
        {"unknown width is ignored", Packet({0x04, 0x11, 0x06, 0x94, 0x00, 0x00}), 6, 0x155555},
        {"short packet is ignored", Packet({0x04, 0x10, 0x06, 0x94, 0x00, 0x00}, 32), 6, 0x155555},
    };
    for (const Case& c : cases) {
        SimCamera camera;
        camera.SetSensorRegister(c.address, 0x155555);
        DispatchCommand(camera, c.packet.data(), static_cast<uint32_t>(c.packet.size()));
        EXPECT_EQ(camera.SensorRegister(c.address), c.value) << c.name;
    }
}

TEST(CommandDispatcher, LogicRegistersAndTheClockSelection) {
    SimCameraOptions options;
    options.clockSelection = 3;
    SimCamera camera(options);
    ASSERT_EQ(camera.SetConfiguration(1), USBD_STATUS_SUCCESS);
    EXPECT_EQ(camera.LogicRegister(kClockSelectionRegister), 3);

    Send(camera, Packet({0x26, 15}));
    EXPECT_EQ(Answer(camera), Packet({0x26, 15}));
    EXPECT_EQ(Answer(camera), Packet({3}));

    Send(camera, Packet({0x25, 15, 5}));
    Send(camera, Packet({0x26, 15}));
    Answer(camera);
    EXPECT_EQ(Answer(camera), Packet({5}));
}

TEST(CommandDispatcher, MemoryReadIsAnsweredOnlyInItsDocumentedForm) {
    SimCamera camera;
    ASSERT_EQ(camera.SetConfiguration(1), USBD_STATUS_SUCCESS);
    Send(camera, Packet({0x41, 0x51, 0x02, 0x00, 0x12, 0x34}));  // wrong fixed byte: no answer
    Send(camera, Packet({0x41, 0x51, 0x02, 0x01, 0x12, 0x34}));
    EXPECT_EQ(Answer(camera), Packet({0x41, 0x51, 0x02, 0x01, 0x12, 0x34}));
    EXPECT_EQ(Answer(camera), Packet({SimMemoryByte(0x1234)}));
    EXPECT_NE(SimMemoryByte(0x1234), SimMemoryByte(0x3412));
}

}  // namespace
}  // namespace bayercam::sim
