#include "convert.h"

#include <pybind11/numpy.h>

#include <string>
#include <utility>
#include <vector>

#include "controls.h"
#include "core/camera_device.h"
#include "image_arrays.h"
#include "offline_conversion.h"

namespace py = pybind11;

namespace bayercam::python {
namespace {

// The raw frame as rows of contiguous bytes (copied only when its columns are not), checked to
// be the sensor's uint8 (height, width).
py::array_t<uint8_t> SensorFrame(const py::handle& raw) {
    if (!py::isinstance<py::array>(raw)) throw py::type_error("convert: raw must be a numpy array");
    py::array array = py::reinterpret_borrow<py::array>(raw);
    if (!array.dtype().is(py::dtype::of<uint8_t>()))
        throw py::type_error("convert: raw must be uint8, not " +
                             std::string(py::str(array.dtype())));
    if (array.ndim() != 2 || array.shape(0) != kSensorHeight || array.shape(1) != kSensorWidth) {
        throw py::value_error("convert: raw must have shape (" + std::to_string(kSensorHeight) +
                              ", " + std::to_string(kSensorWidth) + "), not " +
                              std::string(py::str(raw.attr("shape"))));
    }
    if (array.strides(1) == 1 && array.strides(0) > 0) return array;
    return py::array_t<uint8_t, py::array::c_style | py::array::forcecast>::ensure(array);
}

std::optional<Region> RegionOf(const py::handle& region) {
    if (region.is_none()) return std::nullopt;
    if (!py::isinstance<py::sequence>(region) || py::len(region) != 4)
        throw py::value_error("convert: region must be (x, y, w, h)");
    const py::sequence values = py::reinterpret_borrow<py::sequence>(region);
    return Region{ControlValue("region", values[0]), ControlValue("region", values[1]),
                  ControlValue("region", values[2]), ControlValue("region", values[3])};
}

py::array Convert(const py::handle& raw, const py::kwargs& options) {
    const py::array_t<uint8_t> frame = SensorFrame(raw);
    std::optional<Region> region;
    std::vector<std::pair<std::string, int32_t>> settings;
    for (const auto& [key, value] : options) {
        const std::string name = py::str(key);
        if (name == "region")
            region = RegionOf(value);
        else
            settings.emplace_back(name, ControlValue(name, value));
    }
    OfflineImage image;
    std::string error;
    {
        py::gil_scoped_release released;
        image = ConvertOffline(frame.data(), frame.strides(0), settings, region, &error);
    }
    if (!error.empty()) throw py::value_error("convert: " + error);
    return BgraArray(std::move(image.bgra), uint32_t(image.width), uint32_t(image.height));
}

}  // namespace

void DefineConvert(py::module_& module) {
    module.def("convert", &Convert, py::arg("raw"),
               "convert(raw, *, region=None, **settings) -> numpy.ndarray\n\n"
               "Runs the colour pipeline on one raw sensor frame, a numpy uint8 array of shape "
               "(1024, 1360) with RGGB Bayer samples, the way a live stream of that frame does: "
               "from the default settings (not a camera's saved ones) plus `settings` by control "
               "name (Hue=20, WhiteBalance=1, FlipV=1, ...), clamped as a camera clamps them. "
               "Controls that act on the sensor (Exposure, GlobalGain, ...) are accepted and "
               "change nothing: the raw frame already holds their effect. region=(x, y, w, h) "
               "converts that part of the sensor. Returns numpy uint8 (height, width, 4), BGRA, "
               "top row first: the same bytes as a frame delivered from that raw frame. The GIL "
               "is released while it runs.");
}

}  // namespace bayercam::python
