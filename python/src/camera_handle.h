// One open camera of the library, shared by the Python objects that use it (the camera, its
// streams and controls). Every library call on it holds its lock, taken only after the GIL is
// released, so a thread waiting for a frame never blocks the others' Python code.
#pragma once

#include <bayercam/bayercam.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace bayercam::python {

class CameraHandle {
  public:
    explicit CameraHandle(bayercam_camera* camera) : camera_(camera) {}
    ~CameraHandle() { Close(); }
    CameraHandle(const CameraHandle&) = delete;
    CameraHandle& operator=(const CameraHandle&) = delete;

    // Runs `call` with the camera under the lock, the GIL released; raises bayercam.Error on a
    // failed code (the library's message) and Error when the camera is closed.
    int Call(const std::function<int(bayercam_camera*)>& call);
    // Stops the stream, saves the settings and frees the camera; later calls raise.
    void Close();
    bool Closed();
    // Raises bayercam.Error when the camera is closed.
    void RequireOpen();

    // Waits at most `timeoutMs` for the next frame and hands it to `use` under the lock, the
    // GIL released, before giving it back; a negative code from `use` raises. Starts the stream
    // first when it does not run, or runs with raw frames kept other than `raw` asks (nullopt:
    // either). The wait is cut into short slices between which Ctrl-C (any pending signal)
    // raises.
    using FrameUse = std::function<int(bayercam_camera*, const bayercam_frame&)>;
    void NextFrame(uint32_t timeoutMs, std::optional<bool> raw, const FrameUse& use);
    bool Streaming();
    // Stops the stream if it runs. Returns the library's code; a closed camera is not an error.
    int Stop();

  private:
    // Runs `call` with the camera under the lock, the GIL released; a failed code comes back
    // with `*message` set (the library's message unless `call` set one).
    int Attempt(const std::function<int(bayercam_camera*)>& call, std::string* message);

    std::mutex lock_;
    bayercam_camera* camera_;
    bool streaming_ = false;
    bool rawFrames_ = false;
};

}  // namespace bayercam::python
