// libbayercam for C++: RAII over the C interface of <bayercam/bayercam.h>, header-only.
// Failures throw bayercam::Error, which carries the negative errno-style code and the library's
// message; waiting for a frame that does not come in time is no failure (an empty Frame).
//
//     bayercam::Camera camera("sim");
//     camera.SetControl("Exposure", 400);
//     camera.Start();
//     bayercam::Frame frame = camera.NextFrame(std::chrono::milliseconds(3000));
//     if (frame) use(frame.Data(), frame.Width(), frame.Height(), frame.Stride());
#pragma once

#include <bayercam/bayercam.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace bayercam {

class Error : public std::runtime_error {
  public:
    Error(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    // -ENODEV, -EACCES, -EBUSY, -EINVAL, -ETIMEDOUT, -EIO, -ENOMEM, ...
    int Code() const noexcept { return code_; }

  private:
    int code_;
};

struct Control {
    std::string name;
    int32_t value = 0;  // 0 for a control that cannot be read
    bool readable = false;
    bool writable = false;
    bool hasRange = false;
    int32_t minimum = 0, maximum = 0, byDefault = 0;  // when hasRange
};

// A delivered frame, given back to the stream when it goes.
class Frame {
  public:
    Frame() = default;
    Frame(bayercam_camera* camera, bayercam_frame* frame) : camera_(camera), frame_(frame) {}
    ~Frame() { Release(); }
    Frame(Frame&& other) noexcept
        : camera_(std::exchange(other.camera_, nullptr)),
          frame_(std::exchange(other.frame_, nullptr)) {}
    Frame& operator=(Frame&& other) noexcept {
        if (this != &other) {
            Release();
            camera_ = std::exchange(other.camera_, nullptr);
            frame_ = std::exchange(other.frame_, nullptr);
        }
        return *this;
    }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    explicit operator bool() const { return frame_ != nullptr; }
    // BGRA, top row first.
    const uint8_t* Data() const { return frame_->data; }
    uint32_t Width() const { return frame_->width; }
    uint32_t Height() const { return frame_->height; }
    int32_t Stride() const { return frame_->stride; }
    uint64_t Sequence() const { return frame_->sequence; }
    uint64_t TimestampNs() const { return frame_->timestamp_ns; }
    uint32_t Dropped() const { return frame_->dropped; }
    const bayercam_frame& Raw() const { return *frame_; }

    void Release() {
        if (frame_) bayercam_release_frame(camera_, frame_);
        frame_ = nullptr;
    }

  private:
    bayercam_camera* camera_ = nullptr;
    bayercam_frame* frame_ = nullptr;
};

class Camera {
  public:
    // `selector` and `settingsDir` as bayercam_open takes them; null for the defaults.
    explicit Camera(const char* selector = nullptr, const char* settingsDir = nullptr) {
        int code = bayercam_open(selector, settingsDir, &camera_);
        if (code != 0) throw Error(code, bayercam_last_error(nullptr));
    }
    ~Camera() { bayercam_close(camera_); }
    Camera(Camera&& other) noexcept : camera_(std::exchange(other.camera_, nullptr)) {}
    Camera& operator=(Camera&& other) noexcept {
        if (this != &other) {
            bayercam_close(camera_);
            camera_ = std::exchange(other.camera_, nullptr);
        }
        return *this;
    }
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // The selectors of the attached real cameras.
    static std::vector<std::string> List() {
        char** selectors = nullptr;
        size_t count = 0;
        int code = bayercam_list(&selectors, &count);
        if (code != 0) throw Error(code, bayercam_last_error(nullptr));
        std::vector<std::string> list(selectors, selectors + count);
        bayercam_free_list(selectors, count);
        return list;
    }

    int32_t GetControl(const char* name) {
        int32_t value = 0;
        Check(bayercam_get_control(camera_, name, &value));
        return value;
    }
    void SetControl(const char* name, int32_t value) {
        Check(bayercam_set_control(camera_, name, value));
    }
    std::vector<Control> Controls() {
        std::vector<Control> controls;
        bayercam_control_info info;
        for (uint32_t i = 0; bayercam_describe_control(camera_, i, &info) == 0; ++i) {
            Control control;
            control.name = info.name;
            control.readable = (info.flags & BAYERCAM_CONTROL_READ) != 0;
            control.writable = (info.flags & BAYERCAM_CONTROL_WRITE) != 0;
            control.hasRange = (info.flags & BAYERCAM_CONTROL_RANGE) != 0;
            control.minimum = info.min;
            control.maximum = info.max;
            control.byDefault = info.def;
            if (control.readable) Check(bayercam_get_control(camera_, info.name, &control.value));
            controls.push_back(std::move(control));
        }
        return controls;
    }
    void SetRegion(int32_t x, int32_t y, int32_t width, int32_t height) {
        Check(bayercam_set_region(camera_, x, y, width, height));
    }
    void SetAutoExposure(bool on) { Check(bayercam_set_auto_exposure(camera_, on ? 1 : 0)); }
    void SetAutoWhiteBalance(bool on) {
        Check(bayercam_set_auto_white_balance(camera_, on ? 1 : 0));
    }

    void Start() { Check(bayercam_start(camera_)); }
    // An empty Frame when none came within `timeout`.
    Frame NextFrame(std::chrono::milliseconds timeout) {
        bayercam_frame* frame = nullptr;
        int code = bayercam_next_frame(camera_, static_cast<uint32_t>(timeout.count()), &frame);
        if (code == -ETIMEDOUT) return {};
        Check(code);
        return Frame(camera_, frame);
    }
    // Frames still held must be released (or destroyed) first.
    void Stop() { Check(bayercam_stop(camera_)); }

    bayercam_camera* Handle() const { return camera_; }

  private:
    void Check(int code) {
        if (code != 0) throw Error(code, bayercam_last_error(camera_));
    }

    bayercam_camera* camera_ = nullptr;
};

}  // namespace bayercam
