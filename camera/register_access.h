// The camera's register protocol: sensor register writes as serial words, the camera logic's
// registers, a one-byte memory read and a pass-through command. Each operation is one command
// packet in `commandPacket` (plus, for the reads, two answers received into it), sent under
// `commandLock` so that no two operations of one device interleave on the wire.
#pragma once

#include <cstdint>

namespace bayercam {

struct CameraDevice;

// Byte 0 of a command packet.
constexpr uint8_t kSensorWriteCommand = 0x04;
constexpr uint8_t kStartupCommand = 0x06;
constexpr uint8_t kCaptureStartCommand = 0x0A;
constexpr uint8_t kLogicWriteCommand = 0x25;
constexpr uint8_t kLogicReadCommand = 0x26;
constexpr uint8_t kRawCommand = 0x40;
constexpr uint8_t kMemoryReadCommand = 0x41;

// Sensor register addresses are 10 bits; the shadow covers every one of them.
constexpr uint32_t kSensorAddressMask = 0x3FF;

// Writes `value` to the sensor register at `address`, masked to the register's width (6 bits
// below 256, 16 bits below 384, 22 bits above). On success the shadow slot of an address below
// 1024 keeps the value as given, unmasked. True when the whole packet went out.
bool WriteSensorRegister(CameraDevice* device, uint32_t address, int32_t value);
// Writes a logic register; register and value are cut to their low 8 bits.
bool WriteLogicRegister(CameraDevice* device, uint32_t reg, uint32_t value);
// Reads a logic register. `*value` changes only when the command and both answers were whole.
bool ReadLogicRegister(CameraDevice* device, uint32_t reg, uint8_t* value);
// Reads the memory byte at the address in `selectedRegister` into `*destination`, which is left
// as it was unless the command and both answers were whole. A null destination is allowed.
void ReadMemoryByte(CameraDevice* device, uint8_t* destination);
// Sends the pass-through command with the first `count` bytes of `bytes` (at most 63; none when
// `count` is not positive or `bytes` is null). Whether it arrived is not reported.
void SendRawCommand(CameraDevice* device, int32_t count, const uint8_t* bytes);

}  // namespace bayercam
