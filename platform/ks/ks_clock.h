// The reference clock a pin's graph runs on: stream time in 100-ns units, 0 until the graph
// first runs, then rising monotonically.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/kernel/ntstatus.h"

namespace bayercam {

struct KSPIN;

// Reference-counted, as the kernel's interface is: every reference handed out is released.
struct IKsReferenceClock {
    virtual int64_t GetTime() = 0;
    virtual int64_t GetPhysicalTime() = 0;
    // Also stores the system (monotonic) time of the reading in `systemTime`, if given.
    virtual int64_t GetCorrelatedTime(int64_t* systemTime) = 0;
    virtual int64_t GetCorrelatedPhysicalTime(int64_t* systemTime) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

  protected:
    ~IKsReferenceClock() = default;
};

// Monotonic system time in 100-ns units.
int64_t KeQueryInterruptTime();

class KsStreamClock final : public IKsReferenceClock {
  public:
    // Null when the pool has no room.
    static KsStreamClock* Create();
    // Called when the graph enters run; the first call fixes time 0.
    void Start();

    int64_t GetTime() override;
    int64_t GetPhysicalTime() override;
    int64_t GetCorrelatedTime(int64_t* systemTime) override;
    int64_t GetCorrelatedPhysicalTime(int64_t* systemTime) override;
    uint32_t AddRef() override;
    uint32_t Release() override;

  private:
    int64_t StreamTime(int64_t systemTime) const;

    std::atomic<uint32_t> references_{1};
    std::atomic<int64_t> startTime_{-1};  // system time of the first run, -1 before
};

// A new reference to the pin's clock in `*clock`; STATUS_UNSUCCESSFUL when the pin was created
// without one. The caller releases it.
NTSTATUS KsPinGetReferenceClockInterface(KSPIN* pin, IKsReferenceClock** clock);

}  // namespace bayercam
