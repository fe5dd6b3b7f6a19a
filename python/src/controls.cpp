#include "controls.h"

#include <pybind11/stl.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "camera_handle.h"

namespace py = pybind11;

namespace bayercam::python {
namespace {

// Every control the camera describes, in its order.
std::vector<bayercam_control_info> DescribeControls(CameraHandle& camera) {
    std::vector<bayercam_control_info> infos;
    camera.Call([&](bayercam_camera* handle) {
        for (uint32_t index = 0;; ++index) {
            bayercam_control_info info{};
            const int code = bayercam_describe_control(handle, index, &info);
            if (code == -ENOENT) return 0;
            if (code < 0) return code;
            infos.push_back(info);
        }
    });
    return infos;
}

class Control {
  public:
    Control(std::shared_ptr<CameraHandle> camera, const bayercam_control_info& info)
        : camera_(std::move(camera)), info_(info) {}

    std::string Name() const { return info_.name; }
    const char* Access() const {
        const uint32_t both = BAYERCAM_CONTROL_READ | BAYERCAM_CONTROL_WRITE;
        if ((info_.flags & both) == both) return "get/set";
        return info_.flags & BAYERCAM_CONTROL_READ ? "get" : "set";
    }
    int32_t Value() { return GetControl(*camera_, info_.name); }
    void SetValue(const py::handle& value) { SetControl(*camera_, info_.name, value); }
    py::object Min() const { return RangeField(info_.min); }
    py::object Max() const { return RangeField(info_.max); }
    py::object Default() const { return RangeField(info_.def); }

    std::string Repr() {
        std::string text = std::string("<Control ") + info_.name + " " + Access();
        if (info_.flags & BAYERCAM_CONTROL_READ) text += " value=" + std::to_string(Value());
        if (info_.flags & BAYERCAM_CONTROL_RANGE) {
            text += " min=" + std::to_string(info_.min) + " max=" + std::to_string(info_.max) +
                    " default=" + std::to_string(info_.def);
        }
        return text + ">";
    }

  private:
    py::object RangeField(int32_t value) const {
        if (!(info_.flags & BAYERCAM_CONTROL_RANGE)) return py::none();
        return py::int_(value);
    }

    std::shared_ptr<CameraHandle> camera_;
    bayercam_control_info info_;
};

class Controls {
  public:
    explicit Controls(std::shared_ptr<CameraHandle> camera)
        : infos_(DescribeControls(*camera)), camera_(std::move(camera)) {}

    Control Item(const std::string& name) const {
        for (const bayercam_control_info& info : infos_)
            if (name == info.name) return Control(camera_, info);
        throw py::key_error(name);
    }
    bool Contains(const py::handle& name) const {
        if (!py::isinstance<py::str>(name)) return false;
        const std::string text = name.cast<std::string>();
        for (const bayercam_control_info& info : infos_)
            if (text == info.name) return true;
        return false;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const bayercam_control_info& info : infos_) names.emplace_back(info.name);
        return names;
    }
    std::vector<Control> Items() const {
        std::vector<Control> controls;
        for (const bayercam_control_info& info : infos_) controls.emplace_back(camera_, info);
        return controls;
    }
    size_t Size() const { return infos_.size(); }

  private:
    std::vector<bayercam_control_info> infos_;
    std::shared_ptr<CameraHandle> camera_;
};

}  // namespace

int32_t ControlValue(const std::string& name, const py::handle& value) {
    if (!PyLong_Check(value.ptr()))
        throw py::type_error(name + ": expected an int, got " +
                             std::string(py::str(value.get_type().attr("__name__"))));
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow != 0 || number < INT32_MIN || number > INT32_MAX)
        throw py::value_error(name + ": " + std::string(py::str(value)) +
                              " does not fit in 32 bits");
    return int32_t(number);
}

int32_t GetControl(CameraHandle& camera, const std::string& name) {
    int32_t value = 0;
    camera.Call([&](bayercam_camera* handle) {
        return bayercam_get_control(handle, name.c_str(), &value);
    });
    return value;
}

void SetControl(CameraHandle& camera, const std::string& name, const py::handle& value) {
    const int32_t number = ControlValue(name, value);
    camera.Call([&](bayercam_camera* handle) {
        return bayercam_set_control(handle, name.c_str(), number);
    });
}

void DefineControls(py::module_& module) {
    py::class_<Control>(module, "Control",
                        "One camera control: its current value (read and write) and, where the "
                        "camera reports them, its range and default.")
        .def_property_readonly("name", &Control::Name, "The control's name, e.g. 'Exposure'.")
        .def_property("value", &Control::Value, &Control::SetValue,
                      "The current value. Setting it behaves like the camera's own request: "
                      "out-of-range values are clamped, and the value is saved when the camera "
                      "closes.")
        .def_property_readonly("min", &Control::Min, "The smallest value, or None.")
        .def_property_readonly("max", &Control::Max, "The largest value, or None.")
        .def_property_readonly("default", &Control::Default, "The default value, or None.")
        .def_property_readonly("access", &Control::Access, "'get/set', 'get' or 'set'.")
        .def("__repr__", &Control::Repr);

    py::class_<Controls>(module, "Controls",
                         "The camera's controls by name: a read-only mapping of Control objects.")
        .def("__getitem__", &Controls::Item, py::arg("name"))
        .def("__contains__", &Controls::Contains, py::arg("name"))
        .def("__len__", &Controls::Size)
        .def("__iter__", [](const Controls& c) { return py::iter(py::cast(c.Names())); })
        .def("keys", &Controls::Names, "The control names.")
        .def("values", &Controls::Items, "The controls.")
        .def(
            "items",
            [](const Controls& c) {
                py::list pairs;
                for (const std::string& name : c.Names())
                    pairs.append(py::make_tuple(name, c.Item(name)));
                return pairs;
            },
            "(name, Control) pairs.")
        .def(
            "get",
            [](const Controls& c, const std::string& name, py::object otherwise) {
                return c.Contains(py::str(name)) ? py::cast(c.Item(name)) : otherwise;
            },
            py::arg("name"), py::arg("default") = py::none())
        .def("__repr__", [](const Controls& c) {
            return "<Controls " + std::string(py::str(py::cast(c.Names()))) + ">";
        });
    // isinstance(cam.controls, Mapping) holds, as for any mapping.
    py::module_::import("collections.abc")
        .attr("Mapping")
        .attr("register")(module.attr("Controls"));
}

py::object MakeControls(const std::shared_ptr<CameraHandle>& camera) {
    return py::cast(Controls(camera));
}

}  // namespace bayercam::python
