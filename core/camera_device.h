// The per-camera record and its table of camera operations.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/kernel/ntstatus.h"
#include "platform/kernel/sync.h"
#include "usb/usb_target.h"

namespace bayercam {

struct KSDEVICE;
struct MDL;
struct ChunkRequest;
struct CaptureContext;
struct ImageProcessor;
struct KS_VIDEOINFOHEADER;
struct CameraDevice;

using AtomicInt32 = std::atomic<int32_t>;
using AtomicUint32 = std::atomic<uint32_t>;

// Sensor and frame geometry of this camera.
constexpr int32_t kSensorWidth = 1360;
constexpr int32_t kSensorHeight = 1024;
constexpr int kPacketBytes = 64;
constexpr int kRegisterShadowSize = 1024;

// The device tells the pin through this interface that a raw frame is ready.
struct FrameSink {
    // Asks the class driver to run the pin's processing asynchronously.
    virtual NTSTATUS NotifyFrame() = 0;

  protected:
    ~FrameSink() = default;
};

// The eleven camera operations, in slot order. The capture thread reaches the camera only
// through this table, so tests can put a fake camera behind it.
struct CameraOps {
    NTSTATUS (*OnFrameReady)(CameraDevice* device);                      // 0
    bool (*StartCapture)(CameraDevice* device);                          // 1
    bool (*ReadFrame)(CameraDevice* device, uint8_t* buffer, bool* ok);  // 2
    void (*GetRawFrameSize)(CameraDevice* device, uint32_t* size);       // 3
    void (*GetRawOffset)(CameraDevice* device, int32_t* offset);         // 4
    void (*GetRawStride)(CameraDevice* device, int32_t* stride);         // 5
    void (*AbortMarkedPipes)(CameraDevice* device);                      // 6
    void (*CancelFrameRead)(CameraDevice* device);                       // 7
    int32_t (*GetRoiX)(CameraDevice* device);                            // 8
    int32_t (*GetRoiY)(CameraDevice* device);                            // 9
    int32_t (*GetExtraValue)(CameraDevice* device);                      // 10
};

extern const CameraOps kCameraOps;

// Settings that the streaming code reads while property requests change them are atomics.
struct CameraDevice {
    const CameraOps* ops;
    KSDEVICE* ksDevice;
    UsbTarget usb;
    KEVENT chunkDoneEvent;
    ChunkRequest* chunkTable;
    AtomicInt32 chunksCompleted;
    AtomicInt32 chunkCount;
    KSPIN_LOCK chunkLock;
    MDL* frameMdl;
    AtomicInt32 exTrigger;
    AtomicInt32 timeout;
    AtomicInt32 exposure;
    AtomicUint32 globalGain;
    AtomicInt32 flipH;
    AtomicInt32 flipV;
    AtomicInt32 colorEnable;
    AtomicInt32 whiteBalance;
    AtomicInt32 redGain;
    AtomicInt32 greenGain;
    AtomicInt32 blueGain;
    AtomicInt32 colorCorrection;
    AtomicInt32 brightness;
    AtomicInt32 contrast;
    AtomicInt32 saturation;
    AtomicInt32 hue;
    AtomicInt32 subSample;
    AtomicInt32 readoutX;
    AtomicInt32 readoutY;
    AtomicInt32 readoutWidth;
    AtomicInt32 readoutHeight;
    AtomicInt32 pipelineMode;
    AtomicInt32 clock;
    AtomicInt32 agc;
    AtomicInt32 aec;
    uint8_t commandPacket[kPacketBytes];
    uint8_t frameRequestPacket[kPacketBytes];
    uint8_t frameMarkPacket[kPacketBytes];
    AtomicInt32 formatBusy;
    CaptureContext* captureContext;
    std::atomic<ImageProcessor*> imageProcessor;
    std::atomic<FrameSink*> frameSink;
    const KS_VIDEOINFOHEADER* dataFormat;
    AtomicInt32 roiH;
    AtomicInt32 roiW;
    AtomicInt32 roiX;
    AtomicInt32 roiY;
    AtomicInt32 rawOffset;
    AtomicInt32 rawStride;
    AtomicUint32 rawFrameBytes;
    AtomicInt32 outputWidth;
    AtomicInt32 outputHeight;
    AtomicInt32 defaultPipelineMode;
    AtomicInt32 geometryLocked;
    AtomicInt32 selectedRegister;
    int32_t registerShadow[kRegisterShadowSize];
    AtomicInt32 frameCounter;
    AtomicInt32 extraValue;

    // Serialises each complete register operation (a command and its responses), since they
    // all share `commandPacket`. Recursive so that a control holds it across all the
    // operations it sends, and a property request never lands in the middle of a sequence.
    std::recursive_mutex commandLock;
    // Held by property requests and by the stream's acquire and release, so that a property
    // request never uses an `imageProcessor` that the pin is freeing.
    std::recursive_mutex settingsLock;
    // Set (under `chunkLock`) when CancelFrameRead finds a read in progress: the read submits
    // no further chunk request and reports failure. Cleared when the next read is prepared.
    AtomicInt32 frameReadCancelled;
    // Command and response packets that did not go through whole since the device was added.
    // The sequences that send them carry on regardless; this shows a half-initialised camera.
    AtomicUint32 failedPackets;
};

// Creation (`DeviceAdd`) and second-stage initialisation.
NTSTATUS DeviceAdd(KSDEVICE* ksDevice);
NTSTATUS InitCameraDevice(CameraDevice* device, KSDEVICE* ksDevice);

// The device record of a KSDEVICE, or null.
CameraDevice* GetCameraDevice(KSDEVICE* ksDevice);

void RefreshPipelineMode(CameraDevice* device);
// Counts the pins that hold the geometry: a non-zero `value` adds one, 0 takes one away (never
// below 0). `geometryLocked` stays non-zero while any pin of the device exists, so closing one of
// two pins cannot unlock the geometry under the other's stream. Returns the previous count.
int32_t SetGeometryLock(CameraDevice* device, int32_t value);
int32_t ReadFlipH(CameraDevice* device);
int32_t ReadFlipV(CameraDevice* device);

}  // namespace bayercam
