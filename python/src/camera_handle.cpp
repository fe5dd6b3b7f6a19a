#include "camera_handle.h"

#include <bayercam/bayercam_raw.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>

#include "errors.h"

namespace py = pybind11;

namespace bayercam::python {
namespace {

// How long one wait for a frame runs before Python gets to check for Ctrl-C.
constexpr uint32_t kWaitSliceMs = 50;

// What calls on a closed camera raise: bayercam.Error itself, as no device failed.
constexpr int kClosed = -EBADF;

}  // namespace

int CameraHandle::Attempt(const std::function<int(bayercam_camera*)>& call, std::string* message) {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> hold(lock_);
    if (!camera_) {
        *message = "the camera is closed";
        return kClosed;
    }
    int code = call(camera_);
    if (code < 0 && message->empty()) *message = LastError(camera_);
    return code;
}

int CameraHandle::Call(const std::function<int(bayercam_camera*)>& call) {
    std::string message;
    int code = Attempt(call, &message);
    if (code < 0) ThrowError(code, message);
    return code;
}

void CameraHandle::Close() {
    bayercam_camera* camera = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        std::swap(camera, camera_);
        streaming_ = false;
    }
    bayercam_close(camera);
}

bool CameraHandle::Closed() {
    std::lock_guard<std::mutex> hold(lock_);
    return camera_ == nullptr;
}

void CameraHandle::RequireOpen() {
    if (Closed()) ThrowError(kClosed, "the camera is closed");
}

bool CameraHandle::Streaming() {
    std::lock_guard<std::mutex> hold(lock_);
    return camera_ && streaming_;
}

void CameraHandle::NextFrame(uint32_t timeoutMs, std::optional<bool> raw, const FrameUse& use) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Call([&](bayercam_camera* camera) {
        if (streaming_ && (!raw || rawFrames_ == *raw)) return 0;
        if (streaming_) {
            streaming_ = false;
            int code = bayercam_stop(camera);
            if (code < 0) return code;
        }
        const bool keepRaw = raw.value_or(false);
        int code = bayercam_set_raw_frames(camera, keepRaw);
        if (code < 0) return code;
        rawFrames_ = keepRaw;
        code = bayercam_start(camera);
        streaming_ = code == 0;
        return code;
    });
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const uint32_t slice = uint32_t(std::clamp<int64_t>(left.count(), 0, kWaitSliceMs));
        std::string message;
        bool delivered = false;
        int code = Attempt(
            [&](bayercam_camera* camera) {
                bayercam_frame* frame = nullptr;
                int got = bayercam_next_frame(camera, slice, &frame);
                if (got < 0) return got;
                try {
                    got = use(camera, *frame);
                } catch (const std::bad_alloc&) {
                    got = -ENOMEM;
                    message = "out of memory for a copy of the frame";
                }
                if (got < 0 && message.empty()) message = LastError(camera);
                bayercam_release_frame(camera, frame);
                delivered = got == 0;
                return got;
            },
            &message);
        if (delivered) return;
        if (code != -ETIMEDOUT || Clock::now() >= deadline) ThrowError(code, message);
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
}

int CameraHandle::Stop() {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> hold(lock_);
    if (!camera_ || !streaming_) return 0;
    streaming_ = false;
    return bayercam_stop(camera_);
}

}  // namespace bayercam::python
