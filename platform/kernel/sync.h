// Kernel synchronisation: notification events, spin locks, delays, system threads and the
// processors they run on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/kernel/ntstatus.h"

namespace bayercam {

// A notification event: once set it stays set, releasing every waiter, until reset.
struct KEVENT {
    std::mutex lock;
    std::condition_variable signalled;
    bool state = false;
};

void KeInitializeEvent(KEVENT* event, bool signalled = false);
// Returns the previous state.
bool KeSetEvent(KEVENT* event);
bool KeResetEvent(KEVENT* event);
bool KeReadStateEvent(KEVENT* event);

// `timeout` follows the kernel convention: null waits forever, a negative value is a relative
// time in 100-ns units. Returns STATUS_SUCCESS when the event is set, STATUS_TIMEOUT otherwise.
NTSTATUS KeWaitForSingleObject(KEVENT* event, const int64_t* timeout);

// Relative timeout for `KeWaitForSingleObject` from milliseconds.
constexpr int64_t RelativeTimeoutMs(int64_t ms) {
    return -ms * 10'000;
}

// Spin lock stand-in: a short mutual-exclusion region usable from any thread.
struct KSPIN_LOCK {
    std::mutex lock;
};
void KeInitializeSpinLock(KSPIN_LOCK* spinLock);
void KeAcquireSpinLock(KSPIN_LOCK* spinLock);
void KeReleaseSpinLock(KSPIN_LOCK* spinLock);

// Sleeps for `interval` 100-ns units (negative: relative, as the kernel takes it).
NTSTATUS KeDelayExecutionThread(int64_t interval);

// System threads. A thread object stays valid until its last reference is released.
struct KTHREAD;
using PKTHREAD = KTHREAD*;
using PKSTART_ROUTINE = void (*)(void* context);

namespace threads {
// Fails the n-th thread creation from now (1 = the next one); 0 disables. For tests.
void FailNth(uint64_t n);
}  // namespace threads

// Creates a thread running `routine(context)` and returns a referenced thread object, or
// STATUS_INSUFFICIENT_RESOURCES. The thread ends when the routine returns or calls
// PsTerminateSystemThread.
NTSTATUS PsCreateSystemThread(PKTHREAD* thread, PKSTART_ROUTINE routine, void* context);
[[noreturn]] void PsTerminateSystemThread(NTSTATUS status);
// Waits for the thread to end (null timeout: forever).
NTSTATUS KeWaitForThread(PKTHREAD thread, const int64_t* timeout);
void ObDereferenceObject(PKTHREAD thread);

// Processors the system runs threads on; at least 1.
uint32_t KeQueryActiveProcessorCount();

}  // namespace bayercam
