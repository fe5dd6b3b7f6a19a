#include "simcam/command_dispatcher.h"

#include "simcam/sim_camera.h"

namespace bayercam::sim {
namespace {

constexpr uint32_t kPacket = 64;

// Answers a read: an acknowledgement that echoes the command's leading bytes, then the value in
// byte 0 of a second packet.
void Answer(SimCamera& camera, const uint8_t* command, uint8_t value) {
    uint8_t acknowledgement[kPacket] = {};
    for (int i = 0; i < 6; ++i) acknowledgement[i] = command[i];
    uint8_t answer[kPacket] = {value};
    camera.QueueResponse(acknowledgement, kPacket);
    camera.QueueResponse(answer, kPacket);
}

// A sensor write carries a serial word of 16, 26 or 32 significant bits: the 10-bit address in
// bits 0..9 and a 6-, 16- or 22-bit value above it.
void WriteSensor(SimCamera& camera, const uint8_t* command) {
    uint32_t bits = command[1];
    if (bits != 16 && bits != 26 && bits != 32) return;
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) word |= static_cast<uint32_t>(command[2 + i]) << (8 * i);
    uint32_t valueMask = (1u << (bits - 10)) - 1;
    camera.SetSensorRegister(static_cast<int>(word & 0x3FF), (word >> 10) & valueMask);
}

}  // namespace

uint8_t SimMemoryByte(uint16_t address) {
    return static_cast<uint8_t>((address >> 8) * 31 + (address & 0xFF) * 7 + 0x5A);
}

void DispatchCommand(SimCamera& camera, const uint8_t* packet, uint32_t length) {
    if (length < kPacket) return;
    switch (packet[0]) {
        case 0x04:
            WriteSensor(camera, packet);
            break;
        case 0x25:
            camera.SetLogicRegister(packet[1], packet[2]);
            break;
        case 0x26:
            Answer(camera, packet, camera.LogicRegister(packet[1]));
            break;
        case 0x41:
            // Only the documented form of the read is answered.
            if (packet[1] == 0x51 && packet[2] == 0x02 && packet[3] == 0x01) {
                Answer(camera, packet,
                       SimMemoryByte(static_cast<uint16_t>(packet[4] << 8 | packet[5])));
            }
            break;
        default:
            break;
    }
}

}  // namespace bayercam::sim
