// Which camera an application means: the selector strings of bayercam_open.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace bayercam::library {

struct CameraChoice {
    enum class Kind {
        FirstAttached,  // the first real camera on the bus
        Simulated,      // the built-in simulated camera
        Usb,            // the real camera that usbDevice and usbPath name
    };
    Kind kind = Kind::FirstAttached;
    std::string simScene = "chart";   // chart | file:PATH
    double simFps = 30.0;             // 0: as fast as the camera is asked
    std::optional<int32_t> simClock;  // clock selection the simulated camera reports
    std::string usbDevice;            // VID:PID[:SERIAL]
    std::string usbPath;              // BUS-PORT[.PORT...]
};

// "sim", "sim:scene=chart|file:PATH,fps=F,clock=C", "usb:VID:PID[:SERIAL]",
// "usb-path:BUS-PORT[.PORT...]", or null / "" for the first attached camera. The USB ids and the
// path are checked when the camera is opened. False with `*error` set when malformed.
bool ParseCameraSelector(const char* selector, CameraChoice* choice, std::string* error);

}  // namespace bayercam::library
