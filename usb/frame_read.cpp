#include "usb/frame_read.h"

#include <cstring>

#include "usb/packet_transfer.h"

namespace bayercam {

bool ReadFrame(CameraDevice* device, uint8_t* buffer, bool* ok) {
    *ok = true;
    std::memset(device->frameRequestPacket, 0, kPacketBytes);
    device->frameRequestPacket[0] = kFrameStartMark;
    // A lost request shows up as a read that times out; its own result tells nothing more.
    uint32_t transferred;
    TransferPacket(device, kCommandPipe, device->frameRequestPacket, &transferred);
    NTSTATUS status = ReadFrameChunked(device, device->rawFrameBytes.load(), buffer);
    *ok = status == STATUS_SUCCESS;
    return *ok;
}

}  // namespace bayercam
