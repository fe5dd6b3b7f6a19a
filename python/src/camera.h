// bayercam.Camera, its frame stream and the frames it yields.
#pragma once

#include <pybind11/pybind11.h>

namespace bayercam::python {

void DefineCamera(pybind11::module_& module);

}  // namespace bayercam::python
