#include "tools/stop_signals.h"

#include <atomic>

namespace bayercam::tool {
namespace {

std::atomic<int> received{0};

void OnStopSignal(int signal) {
    received.store(signal);
}

}  // namespace

StopSignals::StopSignals() {
    received.store(0);
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &previous_[i]);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previousPipe_);
}

StopSignals::~StopSignals() {
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
    sigaction(SIGPIPE, &previousPipe_, nullptr);
}

int StopSignals::Received() {
    return received.load();
}

}  // namespace bayercam::tool
