#include "api/library/application_camera.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <utility>

#include "api/library/error_codes.h"
#include "api/library/named_controls.h"
#include "api/library/selector.h"

namespace bayercam::library {
namespace {

// Client frames circulating: enough for the driver to fill while the application holds a few.
constexpr uint32_t kStreamFrames = 6;
constexpr uint32_t kRegionOfInterest = 44;
// How often a wait for a frame looks whether the camera is still on the bus.
constexpr int64_t kUnplugCheckMs = 50;

}  // namespace

int ApplicationCamera::Open(const char* selector, const char* settingsDir,
                            std::unique_ptr<ApplicationCamera>* camera, std::string* error) {
    camera->reset();
    CameraChoice choice;
    if (!ParseCameraSelector(selector, &choice, error)) return -EINVAL;
    SessionOptions options;
    if (settingsDir) options.settingsDir = settingsDir;
    const int code = Open(choice, options, camera, error);
    if (code == -EBUSY) *error = "the camera is in use by another program: " + *error;
    return code;
}

int ApplicationCamera::Open(const CameraChoice& choice, const SessionOptions& options,
                            std::unique_ptr<ApplicationCamera>* camera, std::string* error) {
    camera->reset();
    std::unique_ptr<ApplicationCamera> opened(new ApplicationCamera);
    NTSTATUS status = STATUS_SUCCESS;
    opened->session_ = CameraSession::Open(choice, options, error, &status);
    if (!opened->session_) return ErrorCode(status) ? ErrorCode(status) : -EIO;
    if (!NT_SUCCESS(opened->session_->StartStatus())) {
        *error = std::string("the camera did not start: ") +
                 NtStatusName(opened->session_->StartStatus());
        return opened->session_->Connected() ? -EIO : -ENODEV;
    }
    client::Status filter = opened->session_->Client().OpenFilter(&opened->filter_);
    if (!filter.ok()) {
        *error = "cannot open the capture filter: " + filter.message;
        return ErrorCode(filter.code);
    }
    *camera = std::move(opened);
    return 0;
}

bool ApplicationCamera::Close(std::string* error) {
    {
        std::lock_guard<std::mutex> guard(streamLock_);
        StopLocked();
        filter_.Close();
    }
    return !session_ || session_->Close(error);
}

ApplicationCamera::~ApplicationCamera() {
    std::string ignored;
    Close(&ignored);
}

int ApplicationCamera::Fail(int code, const std::string& message) {
    std::lock_guard<std::mutex> guard(errorLock_);
    lastError_ = message;
    return code;
}

int ApplicationCamera::Fail(const client::Status& status) {
    return Fail(ErrorCode(status.code), status.message);
}

const char* ApplicationCamera::LastError() {
    thread_local std::string copy;
    std::lock_guard<std::mutex> guard(errorLock_);
    copy = lastError_;
    return copy.c_str();
}

int ApplicationCamera::FindControl(const char* name, const ControlProperty** control) {
    *control = name ? FindNamedControl(name) : nullptr;
    if (*control) return 0;
    return Fail(-EINVAL, std::string("'") + (name ? name : "(null)") + "': no such control");
}

int ApplicationCamera::GetControl(const char* name, int32_t* value) {
    const ControlProperty* control;
    if (int code = FindControl(name, &control)) return code;
    if (!value) return Fail(-EINVAL, "no place for the value");
    if (!control->get) return Fail(-EACCES, std::string(control->name) + " cannot be read");
    client::Status status = ReadControl(filter_, *control, value);
    return status.ok() ? 0 : Fail(status);
}

int ApplicationCamera::SetControl(const char* name, int32_t value) {
    const ControlProperty* control;
    if (int code = FindControl(name, &control)) return code;
    if (!control->set) return Fail(-EACCES, std::string(control->name) + " cannot be set");
    client::Status status = WriteControl(filter_, *control, value);
    return status.ok() ? 0 : Fail(status);
}

int ApplicationCamera::ControlRange(const char* name, int32_t* minimum, int32_t* maximum,
                                    int32_t* byDefault) {
    const ControlProperty* control;
    if (int code = FindControl(name, &control)) return code;
    ControlRangeValues range{};
    if (std::optional<ControlRangeIds> ids = RangeIdsOf(*control)) {
        const std::pair<uint32_t, int32_t*> reports[] = {{ids->minimum, &range.minimum},
                                                         {ids->maximum, &range.maximum},
                                                         {ids->byDefault, &range.byDefault}};
        for (const auto& [id, value] : reports) {
            client::Status status = ReadControl(filter_, kControlProperties[id], value);
            if (!status.ok()) return Fail(status);
        }
    } else if (std::optional<ControlRangeValues> fixed = FixedRangeOf(*control)) {
        range = *fixed;
    } else {
        return Fail(-ENOTSUP, std::string(control->name) + " has no range");
    }
    if (minimum) *minimum = range.minimum;
    if (maximum) *maximum = range.maximum;
    if (byDefault) *byDefault = range.byDefault;
    return 0;
}

int ApplicationCamera::DescribeControl(uint32_t index, bayercam_control_info* info) {
    const auto& controls = NamedControls();
    if (index >= controls.size()) return Fail(-ENOENT, "no control at that index");
    if (!info) return Fail(-EINVAL, "no place for the description");
    const ControlProperty& control = *controls[index];
    *info = {};
    info->name = control.name;
    if (control.get) info->flags |= BAYERCAM_CONTROL_READ;
    if (control.set) info->flags |= BAYERCAM_CONTROL_WRITE;
    if (ControlRange(control.name, &info->min, &info->max, &info->def) == 0)
        info->flags |= BAYERCAM_CONTROL_RANGE;
    return 0;
}

int ApplicationCamera::SetRegion(int32_t x, int32_t y, int32_t width, int32_t height) {
    std::lock_guard<std::mutex> guard(streamLock_);
    // The driver keeps the geometry while a pin exists and would answer success.
    if (stream_) return Fail(-EBUSY, "the region cannot change while the camera streams");
    RoiRequest request{};
    request.x = x;
    request.y = y;
    request.width = width;
    request.height = height;
    client::Status status = filter_.SetProperty(ControlPropertySetId, kRegionOfInterest, &request);
    return status.ok() ? 0 : Fail(status);
}

int ApplicationCamera::Start() {
    std::lock_guard<std::mutex> guard(streamLock_);
    if (stream_) return Fail(-EBUSY, "the camera streams already");
    if (gone_ || !session_->Connected())
        return Fail(-ENODEV, "the camera left the bus (unplugged?)");
    auto stream = std::make_unique<client::VideoStream>();
    client::Status status =
        stream->Open(filter_, {.frames = kStreamFrames, .rawFrames = rawFrames_, .topDown = true});
    if (status.ok()) status = stream->Start();
    if (!status.ok()) return Fail(status);
    stream_ = std::move(stream);
    heldFrames_.assign(kStreamFrames, {});
    lastSequence_ = 0;
    autoExposure_.Restart();
    autoWhiteBalance_.Restart();
    return 0;
}

void ApplicationCamera::Describe(const client::Frame& delivered, bayercam_frame* frame) {
    const KS_BITMAPINFOHEADER& bitmap = stream_->Format().VideoInfoHeader.bmiHeader;
    frame->data = delivered.Data();
    frame->width = static_cast<uint32_t>(bitmap.biWidth);
    frame->height = static_cast<uint32_t>(std::abs(bitmap.biHeight));
    frame->stride = bitmap.biWidth * 4;
    frame->fourcc = BAYERCAM_FOURCC_BGRA;
    const KS_FRAME_INFO* info = delivered.FrameInfo();
    frame->sequence = info ? info->PictureNumber : lastSequence_ + 1;
    frame->dropped = frame->sequence > lastSequence_ + 1
                         ? static_cast<uint32_t>(frame->sequence - lastSequence_ - 1)
                         : 0;
    lastSequence_ = frame->sequence;
    // Stream times are in 100-ns units.
    frame->timestamp_ns = static_cast<uint64_t>(delivered.Header().PresentationTime.Time) * 100;
}

int ApplicationCamera::NextFrame(uint32_t timeoutMs, bayercam_frame** frame) {
    if (!frame) return Fail(-EINVAL, "no place for the frame");
    *frame = nullptr;
    std::lock_guard<std::mutex> guard(streamLock_);
    if (!stream_) return Fail(-EACCES, "the camera is not streaming: start it first");
    HeldFrame* slot = nullptr;
    for (HeldFrame& candidate : heldFrames_)
        if (!candidate.held) slot = &candidate;
    if (!slot) return Fail(-EBUSY, "every frame is held: release one first");
    client::Frame* delivered = nullptr;
    if (int code = WaitFrame(timeoutMs, &delivered)) return code;
    slot->held = delivered;
    Describe(*delivered, &slot->frame);
    const FramesRead framesRead = [this] {
        return static_cast<uint32_t>(session_->Camera()->frameCounter.load());
    };
    autoExposure_.Observe(slot->frame, filter_, framesRead);
    autoWhiteBalance_.Observe(slot->frame, filter_, framesRead);
    *frame = &slot->frame;
    return 0;
}

int ApplicationCamera::WaitFrame(uint32_t timeoutMs, client::Frame** delivered) {
    // A camera that left the bus sends nothing more: the wait goes in slices, each ending with a
    // look at the bus, so that the caller learns of it within one slice, whatever its time-out.
    // Frames that came before it left are still delivered.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int64_t slice = gone_ ? 0 : std::clamp<int64_t>(left.count(), 0, kUnplugCheckMs);
        client::Status status = stream_->Next(uint32_t(slice), delivered);
        if (status.ok()) return 0;
        if (status.code != STATUS_TIMEOUT) return Fail(status);
        // A camera that left does not come back to this session.
        if (!gone_ && !session_->Connected()) gone_ = true;
        if (gone_) return Fail(-ENODEV, "the camera left the bus (unplugged?)");
        if (left.count() <= slice) return Fail(-ETIMEDOUT, "no frame came in time");
    }
}

int ApplicationCamera::ReleaseFrame(bayercam_frame* frame) {
    std::lock_guard<std::mutex> guard(streamLock_);
    for (HeldFrame& slot : heldFrames_) {
        if (&slot.frame != frame || !slot.held) continue;
        client::Frame* held = slot.held;
        slot.held = nullptr;
        client::Status status = stream_->Requeue(held);
        return status.ok() ? 0 : Fail(status);
    }
    return Fail(-EINVAL, "not a frame of this camera's stream");
}

int ApplicationCamera::Stop() {
    std::lock_guard<std::mutex> guard(streamLock_);
    return StopLocked();
}

int ApplicationCamera::StopLocked() {
    if (!stream_) return 0;
    client::Status status = stream_->Close();
    stream_.reset();
    heldFrames_.clear();
    return status.ok() ? 0 : Fail(status);
}

int ApplicationCamera::SetAutoExposure(bool on) {
    std::lock_guard<std::mutex> guard(streamLock_);
    autoExposure_.Enable(on);
    return 0;
}

int ApplicationCamera::SetAutoWhiteBalance(bool on) {
    std::lock_guard<std::mutex> guard(streamLock_);
    autoWhiteBalance_.Enable(on);
    return 0;
}

}  // namespace bayercam::library
