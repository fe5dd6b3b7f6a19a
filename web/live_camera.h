// The camera behind the server: opened through the application interface, streaming into a
// FrameHub from a thread of its own, with the controls the page reads and writes.
#pragma once

#include <bayercam/bayercam.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "web/camera_controls.h"
#include "web/control_api.h"
#include "web/frame_hub.h"

namespace bayercam::web {

// The region the stream delivers, in sensor pixels; x and y are unknown until this server sets
// the region or sees the whole sensor, since the camera does not report them.
struct Region {
    std::optional<int32_t> x, y;
    int32_t width = 0, height = 0;
};

class LiveCamera {
  public:
    // Null with `*error` set. `settingsDir` empty: the default settings folder.
    static std::unique_ptr<LiveCamera> Open(const std::string& selector,
                                            const std::string& settingsDir, FrameHub& hub,
                                            std::string* error);
    // Stops the stream and closes the camera, which saves its settings.
    ~LiveCamera();
    LiveCamera(const LiveCamera&) = delete;
    LiveCamera& operator=(const LiveCamera&) = delete;

    // 0 or a negative errno code with `*error` set.
    int Start(std::string* error);
    void Stop();

    const std::string& Selector() const { return selector_; }
    // Every control, and the region as a control of four values.
    std::span<const ControlInfo> Controls() const { return controls_; }
    std::optional<int32_t> Get(const ControlInfo& control);
    // Applies a write ParseControlWrite accepted; a new region stops and restarts the stream.
    int Set(const ControlInfo& control, const std::vector<int32_t>& values, std::string* error);
    int SetAutoExposure(bool on, std::string* error);
    bool AutoExposure() const { return autoExposure_; }
    Region CurrentRegion() const;
    // One frame's raw samples as the sensor gave them (the region, mirrored as FlipH says, top
    // row first), `*width` x `*height` bytes; empty with `*error` set. The camera delivers raw
    // samples only as a gray picture, so the colour switch is off for the few frames this takes.
    std::vector<uint8_t> RawFrame(uint32_t* width, uint32_t* height, std::string* error);
    // Why frames stopped coming, empty while they come.
    std::string StreamError() const;

  private:
    LiveCamera(bayercam_camera* camera, std::string selector, FrameHub& hub);
    int StartLocked(std::string* error);
    void StopLocked();
    void CaptureLoop();
    int Fail(int code, std::string* error) const;
    const ControlInfo* FindControl(std::string_view name) const;

    bayercam_camera* camera_;
    std::string selector_;
    FrameHub& hub_;
    std::vector<ControlInfo> controls_;
    std::atomic<bool> autoExposure_ = false;

    std::mutex rawLock_;       // one raw frame at a time
    mutable std::mutex lock_;  // over the stream's start and stop, and the region
    std::thread capture_;
    std::atomic<bool> capturing_ = false;
    Region region_;
    mutable std::mutex errorLock_;  // the capture thread's own: a stop waits for that thread
    std::string streamError_;
};

}  // namespace bayercam::web
