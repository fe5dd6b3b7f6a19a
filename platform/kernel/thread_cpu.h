// CPU time of the driver's own threads (capture, processing, conversion workers), so that a
// measurement can leave out whatever else runs in the process, such as a simulated camera.
#pragma once

namespace bayercam {

// Counts the constructing thread as a driver thread until destruction; its time stays counted.
class DriverThreadCpu {
  public:
    DriverThreadCpu();
    ~DriverThreadCpu();
    DriverThreadCpu(const DriverThreadCpu&) = delete;
    DriverThreadCpu& operator=(const DriverThreadCpu&) = delete;
};

// User and system time of every driver thread of the process so far, ended ones included.
double DriverThreadCpuSeconds();

}  // namespace bayercam
