// The 64-byte packet exchange with the camera: commands on the command pipe, answers on the
// response pipe, and the marks that bracket every frame read.
#pragma once

#include <cstdint>

#include "platform/kernel/ntstatus.h"

namespace bayercam {

struct CameraDevice;

constexpr uint8_t kFrameStartMark = 0x02;
constexpr uint8_t kFrameEndMark = 0x03;

// Moves one 64-byte packet on pipe `pipeIndex`, in the pipe's own direction; `*transferred` gets
// the bytes really moved. Waits at most one packet time-out (1 s): a camera that does not
// take or answer the packet within it has the transfer cancelled, which fails with STATUS_TIMEOUT.
NTSTATUS TransferPacket(CameraDevice* device, uint32_t pipeIndex, uint8_t* buffer,
                        uint32_t* transferred);
// True only when all 64 bytes went out on the command pipe; a packet that did not counts in
// `failedPackets`, as does a short or failed answer of ReadResponse.
bool SendCommand(CameraDevice* device, uint8_t* buffer);
// True only when 64 bytes came in on the response pipe (a shorter answer stays in `buffer`).
bool ReadResponse(CameraDevice* device, uint8_t* buffer);
// Sends the frame-start mark (end false) or the frame-end mark on the command pipe; the result
// is not reported.
void SendFrameMark(CameraDevice* device, bool end);

}  // namespace bayercam
