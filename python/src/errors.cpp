#include "errors.h"

#include <bayercam/bayercam.h>

#include <cerrno>
#include <cstring>

namespace py = pybind11;

namespace bayercam::python {
namespace {

// Each class, with the errno-style codes it stands for and the built-in exception it also is,
// so that `except TimeoutError` and `except ValueError` catch what they should.
struct ErrorClass {
    const char* name;
    int codes[2];
    PyObject* alsoA;  // may be null
    const char* doc;
    PyObject* type = nullptr;
};

ErrorClass errorClasses[] = {
    {"NotFound", {ENODEV, ENOENT}, nullptr, "No camera matches the selector, or it went away."},
    {"Busy", {EBUSY, 0}, nullptr, "The camera is in use, or the call needs the stream stopped."},
    {"Timeout", {ETIMEDOUT, 0}, PyExc_TimeoutError, "No frame came within the time allowed."},
    {"AccessDenied",
     {EACCES, EPERM},
     PyExc_PermissionError,
     "The camera cannot be opened with this user's rights."},
    {"InvalidArgument",
     {EINVAL, 0},
     PyExc_ValueError,
     "The library refused an argument (an unknown control name, a bad selector, ...)."},
    {"DeviceError", {EIO, EPIPE}, nullptr, "The camera failed a transfer."},
    {"OutOfMemory", {ENOMEM, 0}, PyExc_MemoryError, "The library ran out of memory."},
};

PyObject* baseError = nullptr;

PyObject* ClassOf(int code) {
    for (const ErrorClass& c : errorClasses)
        for (int known : c.codes)
            if (known != 0 && -known == code) return c.type;
    return baseError;
}

}  // namespace

void DefineErrors(py::module_& module) {
    baseError = PyErr_NewExceptionWithDoc(
        "bayercam.Error",
        "A failed camera call. `code` is the library's negative errno-style code, str() its "
        "message.",
        nullptr, nullptr);
    module.add_object("Error", py::handle(baseError));
    for (ErrorClass& c : errorClasses) {
        py::tuple bases = c.alsoA ? py::make_tuple(py::handle(baseError), py::handle(c.alsoA))
                                  : py::make_tuple(py::handle(baseError));
        c.type = PyErr_NewExceptionWithDoc((std::string("bayercam.") + c.name).c_str(), c.doc,
                                           bases.ptr(), nullptr);
        module.add_object(c.name, py::handle(c.type));
    }
}

std::string LastError(bayercam_camera* camera) {
    const char* message = bayercam_last_error(camera);
    return message ? message : "";
}

void ThrowError(int code, const std::string& message) {
    py::object error = py::reinterpret_borrow<py::object>(ClassOf(code))(
        message.empty() ? std::string(std::strerror(-code)) : message);
    error.attr("code") = code;
    PyErr_SetObject(ClassOf(code), error.ptr());
    throw py::error_already_set();
}

}  // namespace bayercam::python
