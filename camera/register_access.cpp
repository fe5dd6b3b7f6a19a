#include "camera/register_access.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "core/camera_device.h"
#include "usb/packet_transfer.h"

namespace bayercam {
namespace {

// Starts a new command in `commandPacket`: every byte the command does not define is 0.
uint8_t* NewCommand(CameraDevice* device, uint8_t code) {
    std::memset(device->commandPacket, 0, kPacketBytes);
    device->commandPacket[0] = code;
    return device->commandPacket;
}

// Sends the command in `commandPacket` and receives its two answers into it; byte 0 of the
// second answer is the value.
bool ExchangeForByte(CameraDevice* device, uint8_t* value) {
    uint8_t* packet = device->commandPacket;
    if (!SendCommand(device, packet) || !ReadResponse(device, packet) ||
        !ReadResponse(device, packet)) {
        return false;
    }
    *value = packet[0];
    return true;
}

}  // namespace

bool WriteSensorRegister(CameraDevice* device, uint32_t address, int32_t value) {
    std::lock_guard guard(device->commandLock);
    uint32_t width = address < 256 ? 6 : address < 384 ? 16 : 22;
    uint32_t mask = (1u << width) - 1;
    uint32_t word = ((static_cast<uint32_t>(value) & mask) << 10) + (address & kSensorAddressMask);
    uint8_t* packet = NewCommand(device, kSensorWriteCommand);
    packet[1] = static_cast<uint8_t>(width + 10);  // significant bits of the serial word
    for (int i = 0; i < 4; ++i) packet[2 + i] = static_cast<uint8_t>(word >> (8 * i));
    if (!SendCommand(device, packet)) return false;
    if (address < kRegisterShadowSize) device->registerShadow[address] = value;
    return true;
}

bool WriteLogicRegister(CameraDevice* device, uint32_t reg, uint32_t value) {
    std::lock_guard guard(device->commandLock);
    uint8_t* packet = NewCommand(device, kLogicWriteCommand);
    packet[1] = static_cast<uint8_t>(reg);
    packet[2] = static_cast<uint8_t>(value);
    return SendCommand(device, packet);
}

bool ReadLogicRegister(CameraDevice* device, uint32_t reg, uint8_t* value) {
    std::lock_guard guard(device->commandLock);
    NewCommand(device, kLogicReadCommand)[1] = static_cast<uint8_t>(reg);
    return ExchangeForByte(device, value);
}

void ReadMemoryByte(CameraDevice* device, uint8_t* destination) {
    std::lock_guard guard(device->commandLock);
    uint32_t address = static_cast<uint32_t>(device->selectedRegister.load());
    uint8_t* packet = NewCommand(device, kMemoryReadCommand);
    packet[1] = 0x51;
    packet[2] = 0x02;
    packet[3] = 0x01;
    packet[4] = static_cast<uint8_t>(address >> 8);
    packet[5] = static_cast<uint8_t>(address);
    uint8_t byte;
    if (ExchangeForByte(device, &byte) && destination) *destination = byte;
}

void SendRawCommand(CameraDevice* device, int32_t count, const uint8_t* bytes) {
    std::lock_guard guard(device->commandLock);
    uint8_t* packet = NewCommand(device, kRawCommand);
    if (count > 0 && bytes) std::memcpy(packet + 1, bytes, std::min(count, kPacketBytes - 1));
    SendCommand(device, packet);
}

}  // namespace bayercam
