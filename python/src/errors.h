// The module's exceptions: bayercam.Error and one subclass per kind of failure the library
// reports, each carrying the library's message and its negative errno-style code.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

struct bayercam_camera;

namespace bayercam::python {

// Creates the exception classes in `module`.
void DefineErrors(pybind11::module_& module);

// Raises the exception of `code` with `message`.
[[noreturn]] void ThrowError(int code, const std::string& message);

// Raises when `code` is a failure, with the library's last message for `camera`; call with the
// GIL held, right after the failed call.
void Check(int code, bayercam_camera* camera);

}  // namespace bayercam::python
