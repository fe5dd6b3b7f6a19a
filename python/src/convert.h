// bayercam.convert: the colour pipeline on a raw frame, outside any camera.
#pragma once

#include <pybind11/pybind11.h>

namespace bayercam::python {

void DefineConvert(pybind11::module_& module);

}  // namespace bayercam::python
