// The `bayercam` Python module: cameras, their controls and frames as NumPy arrays, and the
// offline colour pipeline.
#include <pybind11/pybind11.h>

#include "camera.h"
#include "controls.h"
#include "convert.h"
#include "errors.h"

PYBIND11_MODULE(bayercam, module) {
    module.doc() =
        "The bayercam camera from Python: frames as NumPy arrays.\n\n"
        "    import bayercam\n"
        "    with bayercam.open('sim') as cam:\n"
        "        cam.controls['Exposure'].value = 300\n"
        "        img = cam.capture()          # (H, W, 4) uint8, BGRA, top row first\n"
        "        for frame in cam.stream(count=10, raw=True):\n"
        "            frame.array, frame.raw, frame.sequence, frame.timestamp_ns\n"
        "    rgb = bayercam.convert(raw, Hue=20)  # the pipeline on a raw (1024, 1360) frame\n\n"
        "Failures raise bayercam.Error subclasses carrying the library's message.";
    bayercam::python::DefineErrors(module);
    bayercam::python::DefineControls(module);
    bayercam::python::DefineCamera(module);
    bayercam::python::DefineConvert(module);
}
