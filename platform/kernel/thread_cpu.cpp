#include "platform/kernel/thread_cpu.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace bayercam {
namespace {

struct Registry {
    std::mutex lock;
    std::vector<clockid_t> live;
    double ended = 0;  // seconds of the threads that have ended
};

Registry& Threads() {
    static Registry registry;
    return registry;
}

double Seconds(clockid_t clock) {
    timespec t{};
    if (clock_gettime(clock, &t) != 0) return 0;
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

clockid_t OwnClock() {
    clockid_t clock{};
    if (pthread_getcpuclockid(pthread_self(), &clock) != 0) return CLOCK_THREAD_CPUTIME_ID;
    return clock;
}

}  // namespace

DriverThreadCpu::DriverThreadCpu() {
    Registry& registry = Threads();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.live.push_back(OwnClock());
}

DriverThreadCpu::~DriverThreadCpu() {
    Registry& registry = Threads();
    const clockid_t clock = OwnClock();
    const double spent = Seconds(CLOCK_THREAD_CPUTIME_ID);
    std::lock_guard<std::mutex> guard(registry.lock);
    auto it = std::find(registry.live.begin(), registry.live.end(), clock);
    if (it != registry.live.end()) registry.live.erase(it);
    registry.ended += spent;
}

double DriverThreadCpuSeconds() {
    Registry& registry = Threads();
    std::lock_guard<std::mutex> guard(registry.lock);
    double total = registry.ended;
    // A live thread's clock stays valid while it is registered: it unregisters before it ends.
    for (clockid_t clock : registry.live) total += Seconds(clock);
    return total;
}

}  // namespace bayercam
