#include "platform/ks/ks_processing.h"

#include <system_error>

#include "platform/kernel/thread_cpu.h"
#include "platform/ks/ks_filter_impl.h"

namespace bayercam {
namespace {

bool FramesRequired(const KSPIN_IMPL* impl) {
    return !(impl->flags & KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING);
}

void RunWorker(KSPIN* pin) {
    DriverThreadCpu accounted;
    KSPIN_IMPL* impl = pin->Impl;
    std::unique_lock<std::mutex> lock(impl->lock);
    for (;;) {
        impl->workerWake.wait(lock, [&] {
            return impl->workerStop || (impl->passRequested && impl->processingAllowed);
        });
        if (impl->workerStop) return;
        impl->passRequested = false;
        if (FramesRequired(impl) && impl->queued.empty()) {
            impl->passEnded.notify_all();  // the request is dropped: the pin is idle
            continue;
        }
        impl->passRunning = true;
        uint64_t completedBefore = impl->framesCompleted;
        lock.unlock();
        NTSTATUS status = impl->process(pin);
        lock.lock();
        impl->passRunning = false;
        // STATUS_SUCCESS asks to go on while there is work; a pass that completed nothing
        // would only spin.
        if (status == STATUS_SUCCESS && impl->framesCompleted != completedBefore &&
            !impl->queued.empty())
            impl->passRequested = true;
        impl->passEnded.notify_all();
    }
}

}  // namespace

NTSTATUS KsPinStartWorker(KSPIN* pin) {
    const KSPIN_DISPATCH* dispatch = pin->Descriptor->Dispatch;
    pin->Impl->process = dispatch ? dispatch->Process : nullptr;
    pin->Impl->flags = pin->Descriptor->Flags;
    if (!pin->Impl->process) return STATUS_SUCCESS;
    try {
        pin->Impl->worker = std::thread(RunWorker, pin);
    } catch (const std::system_error&) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return STATUS_SUCCESS;
}

void KsPinStopWorker(KSPIN* pin) {
    KSPIN_IMPL* impl = pin->Impl;
    if (!impl->worker.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(impl->lock);
        impl->workerStop = true;
        impl->processingAllowed = false;
    }
    impl->workerWake.notify_all();
    impl->worker.join();
}

void KsPinEnableProcessing(KSPIN* pin, bool initiate) {
    KSPIN_IMPL* impl = pin->Impl;
    {
        std::lock_guard<std::mutex> guard(impl->lock);
        impl->processingAllowed = true;
    }
    if (initiate) KsPinAttemptProcessing(pin, true);
}

void KsPinDisableProcessing(KSPIN* pin) {
    KSPIN_IMPL* impl = pin->Impl;
    std::unique_lock<std::mutex> lock(impl->lock);
    impl->processingAllowed = false;
    impl->passRequested = false;
    impl->passEnded.notify_all();  // idle waiters: nothing more will run
    impl->passEnded.wait(lock, [&] { return !impl->passRunning; });
}

void KsPinWaitProcessingIdle(KSPIN* pin) {
    if (!pin) return;
    KSPIN_IMPL* impl = pin->Impl;
    std::unique_lock<std::mutex> lock(impl->lock);
    impl->passEnded.wait(lock, [&] {
        return !impl->passRunning && !(impl->passRequested && impl->processingAllowed);
    });
}

void KsPinAttemptProcessing(KSPIN* pin, bool /*asynchronous*/) {
    if (!pin || !pin->Impl->process) return;
    KSPIN_IMPL* impl = pin->Impl;
    {
        std::lock_guard<std::mutex> guard(impl->lock);
        if (!impl->processingAllowed || impl->workerStop) return;
        if (FramesRequired(impl) && impl->queued.empty()) return;
        impl->passRequested = true;
    }
    impl->workerWake.notify_one();
}

}  // namespace bayercam
