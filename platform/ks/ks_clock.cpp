#include "platform/ks/ks_clock.h"

#include <chrono>

#include "platform/kernel/pool.h"
#include "platform/ks/ks_filter_impl.h"

namespace bayercam {

int64_t KeQueryInterruptTime() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

KsStreamClock* KsStreamClock::Create() {
    return PoolNew<KsStreamClock>();
}

void KsStreamClock::Start() {
    int64_t notStarted = -1;
    startTime_.compare_exchange_strong(notStarted, KeQueryInterruptTime());
}

int64_t KsStreamClock::StreamTime(int64_t systemTime) const {
    int64_t start = startTime_.load();
    return start < 0 ? 0 : systemTime - start;
}

int64_t KsStreamClock::GetTime() {
    return StreamTime(KeQueryInterruptTime());
}

// The clock does not stop in pause, so stream and physical time are the same.
int64_t KsStreamClock::GetPhysicalTime() {
    return GetTime();
}

int64_t KsStreamClock::GetCorrelatedTime(int64_t* systemTime) {
    int64_t now = KeQueryInterruptTime();
    if (systemTime) *systemTime = now;
    return StreamTime(now);
}

int64_t KsStreamClock::GetCorrelatedPhysicalTime(int64_t* systemTime) {
    return GetCorrelatedTime(systemTime);
}

uint32_t KsStreamClock::AddRef() {
    return references_.fetch_add(1) + 1;
}

uint32_t KsStreamClock::Release() {
    uint32_t left = references_.fetch_sub(1) - 1;
    if (left == 0) PoolDelete(this);
    return left;
}

NTSTATUS KsPinGetReferenceClockInterface(KSPIN* pin, IKsReferenceClock** clock) {
    if (!clock) return STATUS_INVALID_PARAMETER;
    *clock = nullptr;
    if (!pin || !pin->Impl->clock) return STATUS_UNSUCCESSFUL;
    pin->Impl->clock->AddRef();
    *clock = pin->Impl->clock;
    return STATUS_SUCCESS;
}

}  // namespace bayercam
