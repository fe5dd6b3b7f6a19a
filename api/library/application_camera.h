// The camera behind the C interface: a session, its capture filter, at most one stream, and the
// frames handed out to the application. Every call returns 0 or a negative errno-style code and
// keeps the message of the last failure.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/library/auto_exposure.h"
#include "api/library/auto_white_balance.h"
#include "api/library/camera_session.h"
#include "bayercam/bayercam.h"
#include "bayercam/client.h"
#include "bayercam/video_stream.h"
#include "props/control_property_set.h"

namespace bayercam::library {

class ApplicationCamera {
  public:
    // 0 and `*camera` set, or an error code with `*error` set.
    static int Open(const char* selector, const char* settingsDir,
                    std::unique_ptr<ApplicationCamera>* camera, std::string* error);
    // The same for a choice already made, with the session's options.
    static int Open(const CameraChoice& choice, const SessionOptions& options,
                    std::unique_ptr<ApplicationCamera>* camera, std::string* error);
    // Stops the stream, closes the filter (which saves the settings), then the session. False
    // with `*error` set when the session's close failed (CameraSession::Close). Nothing but the
    // destructor may follow.
    bool Close(std::string* error);
    // Closes as Close does, unless Close was called, and keeps any failure to itself.
    ~ApplicationCamera();
    ApplicationCamera(const ApplicationCamera&) = delete;
    ApplicationCamera& operator=(const ApplicationCamera&) = delete;

    int GetControl(const char* name, int32_t* value);
    int SetControl(const char* name, int32_t value);
    int ControlRange(const char* name, int32_t* minimum, int32_t* maximum, int32_t* byDefault);
    int DescribeControl(uint32_t index, bayercam_control_info* info);
    int SetRegion(int32_t x, int32_t y, int32_t width, int32_t height);
    int Start();
    int NextFrame(uint32_t timeoutMs, bayercam_frame** frame);
    int ReleaseFrame(bayercam_frame* frame);
    int Stop();
    int SetAutoExposure(bool on);
    int SetAutoWhiteBalance(bool on);
    // Raw frames behind the delivered ones (bayercam_raw.h).
    int SetRawFrames(bool on);
    int FrameRaw(const bayercam_frame* frame, const uint8_t** data, uint32_t* width,
                 uint32_t* height, int32_t* stride);
    int GetRegion(int32_t* x, int32_t* y, int32_t* width, int32_t* height);
    int SimulatedUnplug();
    // The last failure's message, copied for the calling thread.
    const char* LastError();

    CameraSession& Session() { return *session_; }
    const client::Filter& Filter() const { return filter_; }

  private:
    // A client frame while the application holds it.
    struct HeldFrame {
        bayercam_frame frame;  // first: the application's pointer is this record's
        client::Frame* held = nullptr;
    };

    ApplicationCamera() = default;
    int Fail(int code, const std::string& message);
    int Fail(const client::Status& status);
    int FindControl(const char* name, const ControlProperty** control);
    int StopLocked();
    // The next delivered frame of the running stream. Caller holds streamLock_.
    int WaitFrame(uint32_t timeoutMs, client::Frame** delivered);
    void Describe(const client::Frame& delivered, bayercam_frame* frame);

    std::unique_ptr<CameraSession> session_;
    client::Filter filter_;  // closes (and saves the settings) before the session goes

    std::mutex streamLock_;  // over the stream and the held frames
    std::unique_ptr<client::VideoStream> stream_;
    std::vector<HeldFrame> heldFrames_;
    uint64_t lastSequence_ = 0;
    AutoExposure autoExposure_;
    AutoWhiteBalance autoWhiteBalance_;
    bool rawFrames_ = false;  // the next stream keeps each frame's raw frame
    bool gone_ = false;       // the camera left the bus

    std::mutex errorLock_;
    std::string lastError_;
};

}  // namespace bayercam::library
