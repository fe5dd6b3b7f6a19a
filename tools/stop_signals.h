// The signals that end a capture the orderly way: Ctrl-C (SIGINT), SIGTERM and SIGHUP ask it to
// stop, so the pin goes back to stop, the settings are saved and every file is whole. A second
// one ends the process the usual way. A closed output pipe is a write error (EPIPE), not a
// signal that kills the process mid-frame.
#pragma once

#include <signal.h>

namespace bayercam::tool {

class StopSignals {
  public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signal that asked to stop, 0 while none did.
    static int Received();

  private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction previous_[3]{};
    struct sigaction previousPipe_ {};
};

}  // namespace bayercam::tool
