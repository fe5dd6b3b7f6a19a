#include "fake_camera.h"

#include <cstring>

#include "core/camera_ops.h"
#include "platform/kernel/sync.h"

namespace bayercam::test {

std::atomic<FakeCamera*> FakeCamera::current_{nullptr};

const CameraOps FakeCamera::kOps = {
    &OnFrameReady,
    &FakeCamera::StartCapture,
    &FakeCamera::ReadFrame,
    &GetRawFrameSize,
    &GetRawOffset,
    &GetRawStride,
    &FakeCamera::AbortMarkedPipes,
    &FakeCamera::CancelFrameRead,
    &GetRoiX,
    &GetRoiY,
    &GetExtraValue,
};

FakeCamera::FakeCamera() {
    current_.store(this);
}

FakeCamera::~FakeCamera() {
    current_.store(nullptr);
}

void FakeCamera::Attach(CameraDevice* device) {
    device->ops = &kOps;
}

void FakeCamera::SetMode(ReadMode mode) {
    std::lock_guard<std::mutex> guard(lock_);
    mode_ = mode;
    changed_.notify_all();
}

void FakeCamera::Release(int count) {
    std::lock_guard<std::mutex> guard(lock_);
    permits_ += count;
    changed_.notify_all();
}

void FakeCamera::WaitReadsStarted(int count) {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return readsStarted_.load() >= count; });
}

void FakeCamera::SetImage(std::vector<uint8_t> image) {
    std::lock_guard<std::mutex> guard(lock_);
    image_ = std::move(image);
}

std::vector<uint8_t*> FakeCamera::ReadBuffers() const {
    std::lock_guard<std::mutex> guard(lock_);
    return buffers_;
}

bool FakeCamera::StartCapture(CameraDevice* device) {
    FakeCamera* self = current_.load();
    self->startCaptures_++;
    if (!self->configure) return false;
    device->rawOffset.store(0);
    device->rawStride.store(kSensorWidth);
    device->rawFrameBytes.store(kSensorWidth * kSensorHeight);
    return true;
}

bool FakeCamera::ReadFrame(CameraDevice*, uint8_t* buffer, bool* ok) {
    *ok = current_.load()->Read(buffer);
    return *ok;
}

bool FakeCamera::Read(uint8_t* buffer) {
    std::unique_lock<std::mutex> guard(lock_);
    buffers_.push_back(buffer);
    readsStarted_++;
    changed_.notify_all();
    const uint64_t generation = cancelGeneration_;
    bool ok = false;
    switch (mode_) {
        case ReadMode::Free:
            guard.unlock();
            KeDelayExecutionThread(RelativeTimeoutMs(1) / 5);
            guard.lock();
            ok = true;
            break;
        case ReadMode::Fail:
            break;
        case ReadMode::Gated:
        case ReadMode::Hang:
            changed_.wait(guard, [&] {
                return cancelGeneration_ != generation || mode_ == ReadMode::Free ||
                       (mode_ == ReadMode::Gated && permits_ > 0);
            });
            ok = cancelGeneration_ == generation;
            if (!ok) {
                cancelledReads_++;
            } else if (mode_ == ReadMode::Gated) {
                permits_--;
            }
            break;
    }
    if (ok) {
        if (!image_.empty()) std::memcpy(buffer, image_.data(), image_.size());
        readsSucceeded_++;
    }
    return ok;
}

void FakeCamera::AbortMarkedPipes(CameraDevice*) {
    current_.load()->aborts_++;
}

// Cuts short the read in progress, like the real one: a read that begins later is not affected.
void FakeCamera::CancelFrameRead(CameraDevice*) {
    FakeCamera* self = current_.load();
    std::lock_guard<std::mutex> guard(self->lock_);
    self->cancels_++;
    self->cancelGeneration_++;
    self->changed_.notify_all();
}

}  // namespace bayercam::test
