#include "platform/kernel/sync.h"

#include <algorithm>
#include <chrono>

#include "platform/kernel/pool.h"
#include "platform/kernel/thread_cpu.h"

namespace bayercam {

void KeInitializeEvent(KEVENT* event, bool signalled) {
    std::lock_guard<std::mutex> guard(event->lock);
    event->state = signalled;
}

bool KeSetEvent(KEVENT* event) {
    std::lock_guard<std::mutex> guard(event->lock);
    bool previous = event->state;
    event->state = true;
    // Notify under the lock: a waiter may free the event as soon as it sees the state.
    event->signalled.notify_all();
    return previous;
}

bool KeResetEvent(KEVENT* event) {
    std::lock_guard<std::mutex> guard(event->lock);
    bool previous = event->state;
    event->state = false;
    return previous;
}

bool KeReadStateEvent(KEVENT* event) {
    std::lock_guard<std::mutex> guard(event->lock);
    return event->state;
}

NTSTATUS KeWaitForSingleObject(KEVENT* event, const int64_t* timeout) {
    std::unique_lock<std::mutex> guard(event->lock);
    if (!timeout) {
        event->signalled.wait(guard, [&] { return event->state; });
        return STATUS_SUCCESS;
    }
    auto interval = std::chrono::microseconds((*timeout < 0 ? -*timeout : *timeout) / 10);
    return event->signalled.wait_for(guard, interval, [&] { return event->state; })
               ? STATUS_SUCCESS
               : STATUS_TIMEOUT;
}

void KeInitializeSpinLock(KSPIN_LOCK*) {}
void KeAcquireSpinLock(KSPIN_LOCK* spinLock) {
    spinLock->lock.lock();
}
void KeReleaseSpinLock(KSPIN_LOCK* spinLock) {
    spinLock->lock.unlock();
}

NTSTATUS KeDelayExecutionThread(int64_t interval) {
    std::this_thread::sleep_for(
        std::chrono::nanoseconds((interval < 0 ? -interval : interval) * 100));
    return STATUS_SUCCESS;
}

struct KTHREAD {
    std::thread thread;
    std::mutex joinLock;
    KEVENT finished;
    std::atomic<int> references{2};  // the creator's and the running thread's
};

namespace {

std::atomic<uint64_t> threadCreations{0};
std::atomic<uint64_t> threadFailAt{0};

struct TerminateThread {};

void Release(KTHREAD* thread) {
    if (thread->references.fetch_sub(1) == 1) {
        if (thread->thread.joinable()) thread->thread.detach();
        PoolDelete(thread);
    }
}

}  // namespace

namespace threads {
void FailNth(uint64_t n) {
    threadFailAt.store(n == 0 ? 0 : threadCreations.load() + n);
}
}  // namespace threads

NTSTATUS PsCreateSystemThread(PKTHREAD* out, PKSTART_ROUTINE routine, void* context) {
    *out = nullptr;
    uint64_t index = threadCreations.fetch_add(1) + 1;
    if (threadFailAt.load() == index) return STATUS_INSUFFICIENT_RESOURCES;
    KTHREAD* thread = PoolNew<KTHREAD>();
    if (!thread) return STATUS_INSUFFICIENT_RESOURCES;
    KeInitializeEvent(&thread->finished);
    try {
        thread->thread = std::thread([thread, routine, context] {
            {
                DriverThreadCpu accounted;
                try {
                    routine(context);
                } catch (const TerminateThread&) {
                }
            }
            KeSetEvent(&thread->finished);
            Release(thread);
        });
    } catch (const std::system_error&) {
        PoolDelete(thread);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    *out = thread;
    return STATUS_SUCCESS;
}

void PsTerminateSystemThread(NTSTATUS) {
    throw TerminateThread{};
}

NTSTATUS KeWaitForThread(PKTHREAD thread, const int64_t* timeout) {
    NTSTATUS status = KeWaitForSingleObject(&thread->finished, timeout);
    if (status == STATUS_SUCCESS) {
        // Joining makes the thread's own release of its reference happen before the caller
        // goes on, so allocation counts are exact once the caller drops its reference.
        std::lock_guard<std::mutex> guard(thread->joinLock);
        if (thread->thread.joinable() && thread->thread.get_id() != std::this_thread::get_id())
            thread->thread.join();
    }
    return status;
}

void ObDereferenceObject(PKTHREAD thread) {
    if (thread) Release(thread);
}

uint32_t KeQueryActiveProcessorCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace bayercam
