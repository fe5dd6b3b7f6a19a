// The simulated camera's side of the command protocol. It keeps the sensor and logic register
// files of the camera up to date from the command packets and answers the two reads on the
// response endpoint. Every simulated camera starts with it as its command handler.
#pragma once

#include <cstdint>

namespace bayercam::sim {

class SimCamera;

// Acts on one packet received on the command endpoint. Packets shorter than 64 bytes are taken
// but not acted on, as are the frame marks, the start-up, capture-start and pass-through
// commands and unknown codes.
void DispatchCommand(SimCamera& camera, const uint8_t* packet, uint32_t length);

// The byte the camera's memory holds at `address` (fixed content, different for every byte
// order of an address).
uint8_t SimMemoryByte(uint16_t address);

}  // namespace bayercam::sim
