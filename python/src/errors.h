// The module's exceptions: bayercam.Error and one subclass per kind of failure the library
// reports, each carrying the library's message and its negative errno-style code.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

struct bayercam_camera;

namespace bayercam::python {

// Creates the exception classes in `module`.
void DefineErrors(pybind11::module_& module);

// The library's message about the last failure on `camera` (null: of an open or a list).
std::string LastError(bayercam_camera* camera);

// Raises the exception of `code` with `message` (empty: the code's own text).
[[noreturn]] void ThrowError(int code, const std::string& message);

}  // namespace bayercam::python
