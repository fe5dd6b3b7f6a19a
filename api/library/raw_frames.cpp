// The raw frames behind delivered frames, the region they are cut from, and the simulated
// camera's cable (bayercam_raw.h).
#include <cerrno>

#include "api/library/application_camera.h"
#include "api/library/simulated_backend.h"
#include "core/camera_device.h"

namespace bayercam::library {

int ApplicationCamera::SetRawFrames(bool on) {
    std::lock_guard<std::mutex> guard(streamLock_);
    if (stream_) return Fail(-EBUSY, "raw frames are chosen before the stream starts");
    rawFrames_ = on;
    return 0;
}

int ApplicationCamera::FrameRaw(const bayercam_frame* frame, const uint8_t** data, uint32_t* width,
                                uint32_t* height, int32_t* stride) {
    if (!frame || !data || !width || !height || !stride)
        return Fail(-EINVAL, "no place for the raw frame");
    std::lock_guard<std::mutex> guard(streamLock_);
    for (const HeldFrame& slot : heldFrames_) {
        if (&slot.frame != frame || !slot.held) continue;
        const client::RawImage* raw = stream_->Raw(*slot.held);
        if (!raw || raw->bytes.empty())
            return Fail(-ENOENT, "the stream does not keep raw frames: ask before starting it");
        const uint64_t needed =
            uint64_t(raw->offset) + uint64_t(raw->stride) * (kSensorHeight - 1) + kSensorWidth;
        if (raw->offset < 0 || raw->stride < kSensorWidth || raw->bytes.size() < needed)
            return Fail(-EIO, "the raw frame is shorter than the sensor");
        *data = raw->bytes.data() + raw->offset;
        *width = kSensorWidth;
        *height = kSensorHeight;
        *stride = raw->stride;
        return 0;
    }
    return Fail(-EINVAL, "not a frame this camera holds");
}

int ApplicationCamera::GetRegion(int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
    if (!x || !y || !width || !height) return Fail(-EINVAL, "no place for the region");
    const CameraDevice* device = session_->Camera();
    *x = device->roiX.load();
    *y = device->roiY.load();
    *width = device->roiW.load();
    *height = device->roiH.load();
    return 0;
}

int ApplicationCamera::SimulatedUnplug() {
    SimulatedBackend* simulated = session_->Simulated();
    if (!simulated) return Fail(-ENOTSUP, "only the simulated camera can be unplugged");
    simulated->Camera().Unplug();
    return 0;
}

}  // namespace bayercam::library
