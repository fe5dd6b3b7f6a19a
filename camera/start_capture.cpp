#include "camera/start_capture.h"

#include <mutex>

#include "camera/camera_controls.h"
#include "camera/register_access.h"
#include "core/camera_device.h"
#include "usb/packet_transfer.h"

namespace bayercam {
namespace {

struct LogicWrite {
    uint32_t reg;
    uint32_t value;
};
constexpr LogicWrite kCaptureSetup[] = {{0, 0x00}, {1, 0x40}, {2, 0x15}, {3, 0x00}};
constexpr LogicWrite kCaptureRunning = {14, 0x00};

}  // namespace

bool StartCapture(CameraDevice* device) {
    std::lock_guard guard(device->commandLock);
    // The camera always sends the whole sensor, one byte per pixel.
    device->rawOffset.store(0);
    device->rawStride.store(kSensorWidth);
    device->rawFrameBytes.store(static_cast<uint32_t>(kSensorWidth * kSensorHeight));

    // No failure stops the sequence: each write stands on its own.
    for (const LogicWrite& write : kCaptureSetup)
        WriteLogicRegister(device, write.reg, write.value);
    uint8_t start[kPacketBytes] = {kCaptureStartCommand, 0x01};
    SendCommand(device, start);
    WriteLogicRegister(device, kCaptureRunning.reg, kCaptureRunning.value);
    SetExposure(device, static_cast<uint32_t>(device->exposure.load()));
    bool gainWritten = SetGlobalGain(device, device->globalGain.load());
    RefreshPipelineMode(device);
    return gainWritten;
}

}  // namespace bayercam
