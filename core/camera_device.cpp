#include "core/camera_device.h"

#include <algorithm>

#include "camera/camera_geometry.h"
#include "core/control_table.h"
#include "platform/kernel/pool.h"
#include "platform/ks/ks.h"

namespace bayercam {
namespace {

// The object bag's free callback: destroys the record. What it points to is released elsewhere
// (the USB buffers by the stop, the chunk state by each read, the stream objects by the pin).
void DestroyCameraDevice(void* record) {
    auto* device = static_cast<CameraDevice*>(record);
    device->ops = &kCameraOps;
    PoolDelete(device);
}

// Clears the fields from the USB state up to the packet buffers (the settings mirror).
void ClearDeviceState(CameraDevice* device) {
    device->usb = UsbTarget{};
    device->chunkTable = nullptr;
    device->chunksCompleted.store(0);
    device->chunkCount.store(0);
    device->frameMdl = nullptr;
    for (AtomicInt32* field : {&device->exTrigger,
                               &device->timeout,
                               &device->exposure,
                               &device->flipH,
                               &device->flipV,
                               &device->colorEnable,
                               &device->whiteBalance,
                               &device->redGain,
                               &device->greenGain,
                               &device->blueGain,
                               &device->colorCorrection,
                               &device->brightness,
                               &device->contrast,
                               &device->saturation,
                               &device->hue,
                               &device->subSample,
                               &device->readoutX,
                               &device->readoutY,
                               &device->readoutWidth,
                               &device->readoutHeight,
                               &device->pipelineMode,
                               &device->clock,
                               &device->agc,
                               &device->aec}) {
        field->store(0);
    }
    device->globalGain.store(0);
}

// The whole sensor, through SetGeometry so that the output size and the data range follow.
void SetDefaultGeometry(CameraDevice* device) {
    SetGeometry(device, Info(Control::RoiX).defaultValue, Info(Control::RoiY).defaultValue,
                Info(Control::RoiW).defaultValue, Info(Control::RoiH).defaultValue);
}

}  // namespace

NTSTATUS DeviceAdd(KSDEVICE* ksDevice) {
    auto* device = PoolNew<CameraDevice>();
    if (!device) return STATUS_INSUFFICIENT_RESOURCES;
    device->ops = &kCameraOps;
    device->ksDevice = ksDevice;
    device->captureContext = nullptr;
    device->imageProcessor.store(nullptr);
    device->roiH.store(0);
    device->roiW.store(0);
    device->roiX.store(0);
    device->roiY.store(0);
    device->geometryLocked.store(0);
    device->selectedRegister.store(0);
    device->extraValue.store(0);
    device->failedPackets.store(0);
    SetDefaultGeometry(device);

    KsAcquireDevice(ksDevice);
    NTSTATUS status = KsAddItemToObjectBag(ksDevice->Bag, device, &DestroyCameraDevice);
    KsReleaseDevice(ksDevice);
    if (!NT_SUCCESS(status)) {
        PoolDelete(device);
        return status;
    }
    ksDevice->Context = device;
    return InitCameraDevice(device, ksDevice);
}

NTSTATUS InitCameraDevice(CameraDevice* device, KSDEVICE* ksDevice) {
    device->defaultPipelineMode.store(2);
    ClearDeviceState(device);
    std::fill(std::begin(device->registerShadow), std::end(device->registerShadow), 0);
    device->usb.physicalDevice = ksDevice->PhysicalDeviceObject;
    device->usb.lowerDevice = ksDevice->NextDeviceObject;
    device->usb.functionalDevice = ksDevice->FunctionalDeviceObject;

    device->pipelineMode.store(device->defaultPipelineMode.load());
    // The camera's controls stay 0 until the start-up programs them.
    for (const ControlInfo& info : kControls) {
        if (info.target != ControlTarget::Camera && info.target != ControlTarget::Geometry)
            StoreControl(device, info.control, info.defaultValue);
    }
    SetDefaultGeometry(device);

    KeInitializeSpinLock(&device->chunkLock);
    KeInitializeEvent(&device->chunkDoneEvent, false);
    std::fill(std::begin(device->frameMarkPacket), std::end(device->frameMarkPacket), 0);
    std::fill(std::begin(device->commandPacket), std::end(device->commandPacket), 0);
    std::fill(std::begin(device->frameRequestPacket), std::end(device->frameRequestPacket), 0);
    return STATUS_SUCCESS;
}

CameraDevice* GetCameraDevice(KSDEVICE* ksDevice) {
    return ksDevice ? static_cast<CameraDevice*>(ksDevice->Context) : nullptr;
}

void RefreshPipelineMode(CameraDevice* device) {
    device->pipelineMode.store(device->defaultPipelineMode.load());
}

int32_t SetGeometryLock(CameraDevice* device, int32_t value) {
    if (value != 0) return device->geometryLocked.fetch_add(1);
    int32_t count = device->geometryLocked.load();
    while (count > 0 && !device->geometryLocked.compare_exchange_weak(count, count - 1)) {
    }
    return count;
}

int32_t ReadFlipH(CameraDevice* device) {
    return device->flipH.load();
}

int32_t ReadFlipV(CameraDevice* device) {
    return device->flipV.load();
}

}  // namespace bayercam
