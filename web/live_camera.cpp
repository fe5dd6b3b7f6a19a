#include "web/live_camera.h"

#include <cerrno>
#include <chrono>

namespace bayercam::web {
namespace {

// How long one wait for a frame may hold up a stop.
constexpr uint32_t kFrameWaitMs = 250;
// Between two attempts after a failed frame, so a camera gone from the bus does not spin a core.
constexpr auto kRetryDelay = std::chrono::milliseconds(100);
// Frames converted before the colour switch went off, and the one converted while it did, are
// not raw: skip this many.
constexpr int kFramesBeforeRaw = 2;
constexpr auto kRawFrameWait = std::chrono::milliseconds(3000);

}  // namespace

std::unique_ptr<LiveCamera> LiveCamera::Open(const std::string& selector,
                                             const std::string& settingsDir, FrameHub& hub,
                                             std::string* error) {
    bayercam_camera* camera = nullptr;
    int code = bayercam_open(selector.c_str(), settingsDir.empty() ? nullptr : settingsDir.c_str(),
                             &camera);
    if (code != 0) {
        *error = bayercam_last_error(nullptr);
        return nullptr;
    }
    std::unique_ptr<LiveCamera> live(new LiveCamera(camera, selector, hub));
    live->controls_ = ListControls(camera);
    return live;
}

LiveCamera::LiveCamera(bayercam_camera* camera, std::string selector, FrameHub& hub)
    : camera_(camera), selector_(std::move(selector)), hub_(hub) {}

LiveCamera::~LiveCamera() {
    Stop();
    bayercam_close(camera_);
}

int LiveCamera::Fail(int code, std::string* error) const {
    *error = bayercam_last_error(camera_);
    return code;
}

int LiveCamera::Start(std::string* error) {
    std::lock_guard guard(lock_);
    return StartLocked(error);
}

void LiveCamera::Stop() {
    std::lock_guard guard(lock_);
    StopLocked();
}

int LiveCamera::StartLocked(std::string* error) {
    if (capturing_) return 0;
    if (int code = bayercam_start(camera_)) return Fail(code, error);
    capturing_ = true;
    capture_ = std::thread([this] { CaptureLoop(); });
    return 0;
}

void LiveCamera::StopLocked() {
    if (!capturing_) return;
    capturing_ = false;
    capture_.join();
    bayercam_stop(camera_);
}

void LiveCamera::CaptureLoop() {
    while (capturing_) {
        bayercam_frame* frame = nullptr;
        int code = bayercam_next_frame(camera_, kFrameWaitMs, &frame);
        if (code == 0) {
            hub_.Publish(frame->data, frame->width, frame->height, frame->stride,
                         frame->timestamp_ns, frame->dropped);
            bayercam_release_frame(camera_, frame);
            std::lock_guard guard(errorLock_);
            streamError_.clear();
            continue;
        }
        if (code == -ETIMEDOUT) continue;
        {
            std::lock_guard guard(errorLock_);
            streamError_ = bayercam_last_error(camera_);
        }
        std::this_thread::sleep_for(kRetryDelay);
    }
}

std::optional<int32_t> LiveCamera::Get(const ControlInfo& control) {
    int32_t value = 0;
    if (!control.readable || bayercam_get_control(camera_, control.name.c_str(), &value) != 0)
        return std::nullopt;
    return value;
}

int LiveCamera::Set(const ControlInfo& control, const std::vector<int32_t>& values,
                    std::string* error) {
    if (control.name != kRegionControl) {
        int code = bayercam_set_control(camera_, control.name.c_str(), values.at(0));
        return code ? Fail(code, error) : 0;
    }
    // The geometry is fixed while a stream exists: stop, set, start.
    std::lock_guard guard(lock_);
    bool wasCapturing = capturing_;
    StopLocked();
    int code = bayercam_set_region(camera_, values[0], values[1], values[2], values[3]);
    if (code != 0)
        Fail(code, error);
    else
        region_ = {values[0], values[1], values[2], values[3]};
    std::string startError;
    int startCode = wasCapturing ? StartLocked(&startError) : 0;
    if (code == 0 && startCode != 0) *error = startError;
    return code ? code : startCode;
}

int LiveCamera::SetAutoExposure(bool on, std::string* error) {
    if (int code = bayercam_set_auto_exposure(camera_, on ? 1 : 0)) return Fail(code, error);
    autoExposure_ = on;
    return 0;
}

Region LiveCamera::CurrentRegion() const {
    LiveStats stats = hub_.Stats();
    std::lock_guard guard(lock_);
    Region region = region_;
    if (stats.width != 0) {
        region.width = static_cast<int32_t>(stats.width);
        region.height = static_cast<int32_t>(stats.height);
    }
    return region;
}

const ControlInfo* LiveCamera::FindControl(std::string_view name) const {
    for (const ControlInfo& control : controls_)
        if (control.name == name) return &control;
    return nullptr;
}

std::vector<uint8_t> LiveCamera::RawFrame(uint32_t* width, uint32_t* height, std::string* error) {
    std::lock_guard guard(rawLock_);
    const ControlInfo* colour = FindControl("ColorEnable");
    std::optional<int32_t> wasOn = colour ? Get(*colour) : std::nullopt;
    if (!wasOn) {
        *error = "the camera offers no colour switch";
        return {};
    }
    if (*wasOn != 0 && Set(*colour, {0}, error) != 0) return {};
    std::shared_ptr<const LiveFrame> frame = hub_.Latest();
    for (int i = 0; i <= kFramesBeforeRaw; ++i) {
        frame = hub_.WaitNewer(frame ? frame->Serial() : 0, kRawFrameWait);
        if (!frame) break;
    }
    if (*wasOn != 0) {
        std::string restoreError;
        Set(*colour, {*wasOn}, &restoreError);
    }
    if (!frame) {
        *error = "no frame came";
        return {};
    }
    BgraImage image = frame->Image();
    *width = image.width;
    *height = image.height;
    std::vector<uint8_t> samples(size_t{image.width} * image.height);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = image.pixels[i * 4];
    return samples;
}

std::string LiveCamera::StreamError() const {
    std::lock_guard guard(errorLock_);
    return streamError_;
}

}  // namespace bayercam::web
