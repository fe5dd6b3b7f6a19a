// Camera.controls: the camera's controls by name, each with its value, range and access.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>

namespace bayercam::python {

class CameraHandle;

void DefineControls(pybind11::module_& module);
// The mapping object of an open camera.
pybind11::object MakeControls(const std::shared_ptr<CameraHandle>& camera);
// Reads one control; raises KeyError-like bayercam.InvalidArgument for an unknown name.
int32_t GetControl(CameraHandle& camera, const std::string& name);
// Sets one control from a Python integer (bool included); TypeError for other types, ValueError
// outside 32 bits.
void SetControl(CameraHandle& camera, const std::string& name, const pybind11::handle& value);
// A Python integer as a control value: TypeError for other types, ValueError outside 32 bits.
int32_t ControlValue(const std::string& name, const pybind11::handle& value);

}  // namespace bayercam::python
