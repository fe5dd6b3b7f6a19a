#include "camera.h"

#include <bayercam/bayercam_raw.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <string>

#include "camera_handle.h"
#include "controls.h"
#include "errors.h"
#include "image_arrays.h"

namespace py = pybind11;

namespace bayercam::python {
namespace {

// A delivered frame, copied out of the library's buffer so that it outlives the stream.
struct Frame {
    py::array array;
    py::object raw;
    uint64_t sequence = 0;
    uint64_t timestampNs = 0;
    uint32_t dropped = 0;
};

struct CopiedFrame {
    std::vector<uint8_t> bgra;
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> raw;
    uint32_t rawWidth = 0, rawHeight = 0;
    uint64_t sequence = 0, timestampNs = 0;
    uint32_t dropped = 0;
};

// The next frame, copied while the GIL is released; the raw frame too when `raw` asks.
Frame ReadFrame(CameraHandle& camera, uint32_t timeoutMs, std::optional<bool> raw) {
    CopiedFrame copied;
    camera.NextFrame(timeoutMs, raw, [&](bayercam_camera* handle, const bayercam_frame& frame) {
        copied.bgra = PackRows(frame.data, size_t(frame.width) * 4, frame.height, frame.stride);
        copied.width = frame.width;
        copied.height = frame.height;
        copied.sequence = frame.sequence;
        copied.timestampNs = frame.timestamp_ns;
        copied.dropped = frame.dropped;
        if (!raw.value_or(false)) return 0;
        const uint8_t* data = nullptr;
        int32_t stride = 0;
        const int code =
            bayercam_frame_raw(handle, &frame, &data, &copied.rawWidth, &copied.rawHeight, &stride);
        if (code == 0) copied.raw = PackRows(data, copied.rawWidth, copied.rawHeight, stride);
        return code;
    });
    Frame result;
    result.array = BgraArray(std::move(copied.bgra), copied.width, copied.height);
    result.raw = copied.raw.empty()
                     ? py::object(py::none())
                     : GrayArray(std::move(copied.raw), copied.rawWidth, copied.rawHeight);
    result.sequence = copied.sequence;
    result.timestampNs = copied.timestampNs;
    result.dropped = copied.dropped;
    return result;
}

// Frames until `count` have come (none: until closed); the stream stops when the iteration ends,
// is closed, or the iterator is dropped (an exception in the loop body included).
class Stream {
  public:
    Stream(std::shared_ptr<CameraHandle> camera, std::optional<uint64_t> count, bool raw,
           uint32_t timeoutMs)
        : camera_(std::move(camera)), remaining_(count), raw_(raw), timeoutMs_(timeoutMs) {}
    ~Stream() { Close(); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    Frame Next() {
        if (done_ || remaining_ == uint64_t{0}) {
            Close();
            throw py::stop_iteration();
        }
        try {
            Frame frame = ReadFrame(*camera_, timeoutMs_, raw_);
            if (remaining_) --*remaining_;
            return frame;
        } catch (...) {
            Close();
            throw;
        }
    }
    void Close() {
        if (done_) return;
        done_ = true;
        camera_->Stop();
    }

  private:
    std::shared_ptr<CameraHandle> camera_;
    std::optional<uint64_t> remaining_;
    bool raw_;
    uint32_t timeoutMs_;
    bool done_ = false;
};

std::optional<std::string> PathText(const py::object& path) {
    if (path.is_none()) return std::nullopt;
    return py::str(py::module_::import("os").attr("fspath")(path)).cast<std::string>();
}

class Camera {
  public:
    static Camera Open(const py::object& selector, const py::object& settingsDir,
                       bool autoExposure) {
        const std::optional<std::string> selectorText =
            selector.is_none() ? std::nullopt : std::optional(selector.cast<std::string>());
        const std::optional<std::string> dir = PathText(settingsDir);
        bayercam_camera* handle = nullptr;
        int code = 0;
        std::string message;
        {
            py::gil_scoped_release released;
            code = bayercam_open(selectorText ? selectorText->c_str() : nullptr,
                                 dir ? dir->c_str() : nullptr, &handle);
            if (code < 0) message = LastError(nullptr);
        }
        if (code < 0) ThrowError(code, message);
        Camera camera(std::make_shared<CameraHandle>(handle));
        if (autoExposure) {
            camera.camera_->Call(
                [](bayercam_camera* c) { return bayercam_set_auto_exposure(c, 1); });
        }
        return camera;
    }

    void Close() {
        py::gil_scoped_release released;
        camera_->Close();
    }
    bool Closed() const { return camera_->Closed(); }

    py::array Capture(uint32_t timeoutMs) {
        const bool wasStreaming = camera_->Streaming();
        Frame frame;
        try {
            frame = ReadFrame(*camera_, timeoutMs, std::nullopt);
        } catch (...) {
            if (!wasStreaming) camera_->Stop();
            throw;
        }
        if (!wasStreaming) camera_->Stop();
        return frame.array;
    }

    std::unique_ptr<Stream> MakeStream(std::optional<uint64_t> count, bool raw,
                                       uint32_t timeoutMs) {
        camera_->RequireOpen();
        return std::make_unique<Stream>(camera_, count, raw, timeoutMs);
    }

    py::object Controls() {
        if (!controls_) controls_ = MakeControls(camera_);
        return controls_;
    }
    int32_t Get(const std::string& name) { return GetControl(*camera_, name); }
    void Set(const py::kwargs& values) {
        for (const auto& [name, value] : values) SetControl(*camera_, py::str(name), value);
    }

    py::tuple Region() {
        int32_t x = 0, y = 0, w = 0, h = 0;
        camera_->Call([&](bayercam_camera* c) { return bayercam_get_region(c, &x, &y, &w, &h); });
        return py::make_tuple(x, y, w, h);
    }
    void SetRegion(const py::object& region) {
        if (!py::isinstance<py::sequence>(region) || py::len(region) != 4)
            throw py::value_error("region: expected (x, y, w, h)");
        const py::sequence values = py::reinterpret_borrow<py::sequence>(region);
        int32_t v[4];
        for (size_t i = 0; i < 4; ++i) v[i] = ControlValue("region", values[i]);
        camera_->Call(
            [&](bayercam_camera* c) { return bayercam_set_region(c, v[0], v[1], v[2], v[3]); });
    }

  private:
    explicit Camera(std::shared_ptr<CameraHandle> camera) : camera_(std::move(camera)) {}

    std::shared_ptr<CameraHandle> camera_;
    py::object controls_;
};

py::list ListCameras() {
    char** selectors = nullptr;
    size_t count = 0;
    int code = 0;
    std::string message;
    {
        py::gil_scoped_release released;
        code = bayercam_list(&selectors, &count);
        if (code < 0) message = LastError(nullptr);
    }
    if (code < 0) ThrowError(code, message);
    py::list names;
    for (size_t i = 0; i < count; ++i) names.append(py::str(selectors[i]));
    bayercam_free_list(selectors, count);
    return names;
}

}  // namespace

void DefineCamera(py::module_& module) {
    py::class_<Frame>(module, "Frame",
                      "One delivered frame. Its arrays are copies made at delivery (one copy of "
                      "the image, and of the raw frame when asked for), so a frame stays valid "
                      "after the stream and the camera are closed.")
        .def_readonly("array", &Frame::array,
                      "The image: numpy uint8 (height, width, 4), BGRA, top row first, "
                      "C-contiguous.")
        .def_readonly("raw", &Frame::raw,
                      "The raw sensor frame the image was made from: numpy uint8 (1024, 1360), "
                      "RGGB Bayer samples, the whole sensor whatever the region; None unless the "
                      "stream was opened with raw=True.")
        .def_readonly("sequence", &Frame::sequence,
                      "Frame number from the stream; gaps are frames dropped.")
        .def_readonly("timestamp_ns", &Frame::timestampNs, "Time stamp from the stream's clock.")
        .def_readonly("dropped", &Frame::dropped,
                      "Frames dropped since the previous delivered frame.")
        .def("__repr__", [](const Frame& f) {
            return "<Frame " + std::to_string(f.array.shape(1)) + "x" +
                   std::to_string(f.array.shape(0)) + " sequence=" + std::to_string(f.sequence) +
                   (f.raw.is_none() ? "" : " raw") + ">";
        });

    py::class_<Stream>(module, "Stream",
                       "An iterator of Frame objects from Camera.stream(); also a context "
                       "manager. The camera stops streaming when the iteration ends, when close() "
                       "is called, or when the iterator is dropped.")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &Stream::Next)
        .def("close", &Stream::Close, "Stops the stream; the iteration ends.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](Stream& s, const py::args&) { s.Close(); });

    py::class_<Camera>(module, "Camera",
                       "An open camera, from bayercam.open(). A context manager: leaving the "
                       "`with` block closes it, saving its settings.")
        .def("close", &Camera::Close,
             "Stops the stream if it runs, saves the settings and frees the camera. Further "
             "calls raise bayercam.Error; closing twice is allowed.")
        .def_property_readonly("closed", &Camera::Closed, "True once close() has run.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](Camera& c, const py::args&) { c.Close(); })
        .def("capture", &Camera::Capture, py::arg("timeout_ms") = 3000,
             "The next frame as numpy uint8 (height, width, 4), BGRA, top row first, "
             "C-contiguous (a copy). Starts the camera for this one frame unless a stream runs. "
             "Raises bayercam.Timeout when no frame comes within timeout_ms; Ctrl-C interrupts "
             "the wait.")
        .def("stream", &Camera::MakeStream, py::arg("count") = py::none(), py::arg("raw") = false,
             py::arg("timeout_ms") = 3000,
             "An iterator of Frame objects: `count` of them, or until the camera is closed when "
             "count is None. raw=True keeps each frame's raw sensor frame in Frame.raw. Each wait "
             "lasts at most timeout_ms (bayercam.Timeout), releases the GIL and can be "
             "interrupted with Ctrl-C.")
        .def_property_readonly("controls", &Camera::Controls,
                               "The controls by name: cam.controls['Exposure'].value = 300.")
        .def("get", &Camera::Get, py::arg("name"), "The value of one control.")
        .def("set", &Camera::Set,
             "Sets controls by name, in order: cam.set(Hue=20, WhiteBalance=1). Values out of "
             "range are clamped.")
        .def_property("region", &Camera::Region, &Camera::SetRegion,
                      "The sensor region delivered, (x, y, w, h). Setting it while a stream runs "
                      "raises bayercam.Busy; the camera aligns and bounds it, and delivers a "
                      "width rounded down to a multiple of 8.");

    module.def("open", &Camera::Open, py::arg("selector") = py::none(),
               py::arg("settings_dir") = py::none(), py::arg("auto_exposure") = false,
               "Opens a camera. selector: 'sim', 'sim:scene=chart|file:PATH,fps=F,clock=C', "
               "'usb:VID:PID[:SERIAL]', 'usb-path:BUS-PORT[.PORT...]', or None for the first "
               "attached camera. settings_dir: where cameras keep their settings (None: the "
               "bayercam tool's folder). auto_exposure steers Exposure and GlobalGain toward a "
               "mid-grey image. Raises bayercam.NotFound, bayercam.Busy, ...");
    module.def("list_cameras", &ListCameras,
               "Selectors of the attached real cameras, e.g. ['usb:1234:5678:A1B2'].");
}

}  // namespace bayercam::python
