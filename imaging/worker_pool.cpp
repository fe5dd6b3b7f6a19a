#include "imaging/worker_pool.h"

#include <algorithm>

#include "platform/ks/ks_clock.h"

namespace bayercam {
namespace {

// How long a thread polls for what it waits for before it sleeps on its event: long enough for
// the next of back-to-back frames or the last part in flight, short beside a frame time.
constexpr int64_t kSpinTime = 200;  // 100-ns units

constexpr int kGenerationShift = 48;
constexpr int kPartsShift = 32;
constexpr uint64_t kPartMask = 0xFFFFFFFF;

uint32_t GenerationOf(uint64_t claims) {
    return static_cast<uint32_t>(claims >> kGenerationShift);
}

void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Polls `done` for up to kSpinTime; true when it came true.
template <class Done>
bool SpinUntil(Done done) {
    const int64_t deadline = KeQueryInterruptTime() + kSpinTime;
    do {
        for (int i = 0; i < 16; ++i) {
            if (done()) return true;
            CpuRelax();
        }
    } while (KeQueryInterruptTime() < deadline);
    return done();
}

// Sleeps on `event` until `done`; whoever makes `done` true sets the event afterwards.
template <class Done>
void SleepUntil(KEVENT* event, Done done) {
    while (!done()) {
        KeResetEvent(event);
        if (done()) return;
        KeWaitForSingleObject(event, nullptr);
    }
}

}  // namespace

WorkerPool::WorkerPool(uint32_t threads) {
    KeInitializeEvent(&finished_);
    const uint32_t wanted = std::min(threads, kMaxWorkers);
    for (uint32_t i = 0; i < wanted; ++i) {
        Worker& worker = workers_[i];
        worker.pool = this;
        KeInitializeEvent(&worker.wake);
        if (!NT_SUCCESS(PsCreateSystemThread(&worker.thread, &WorkerLoop, &worker))) break;
        ++started_;
    }
}

WorkerPool::~WorkerPool() {
    stopping_.store(true);
    for (uint32_t i = 0; i < started_; ++i) KeSetEvent(&workers_[i].wake);
    for (uint32_t i = 0; i < started_; ++i) {
        KeWaitForThread(workers_[i].thread, nullptr);
        ObDereferenceObject(workers_[i].thread);
    }
}

void WorkerPool::Run(Task task, void* context, uint32_t parts) {
    parts = std::min(parts, kMaxParts);
    task_ = task;
    context_ = context;
    unfinished_.store(parts, std::memory_order_relaxed);
    ++generation_;
    claims_.store((uint64_t{generation_} << kGenerationShift) | (uint64_t{parts} << kPartsShift),
                  std::memory_order_release);
    for (uint32_t i = 0; i < started_; ++i) KeSetEvent(&workers_[i].wake);
    uint32_t generation = 0;
    while (RunPart(&generation)) {
    }
    WaitUntilFinished();
}

bool WorkerPool::RunPart(uint32_t* generation) {
    const uint64_t ticket = claims_.fetch_add(1, std::memory_order_acq_rel);
    *generation = GenerationOf(ticket);
    const uint64_t parts = (ticket >> kPartsShift) & kMaxParts;
    const uint64_t part = ticket & kPartMask;
    if (part >= parts) return false;
    // The job cannot end, nor task_ and context_ change, before this part is finished.
    task_(context_, static_cast<uint32_t>(part));
    if (unfinished_.fetch_sub(1, std::memory_order_acq_rel) == 1) KeSetEvent(&finished_);
    return true;
}

void WorkerPool::WaitUntilFinished() {
    auto finished = [this] { return unfinished_.load(std::memory_order_acquire) == 0; };
    if (SpinUntil(finished)) return;
    SleepUntil(&finished_, finished);
}

bool WorkerPool::WaitForJob(Worker& worker, uint32_t seen) {
    auto fresh = [&] {
        return stopping_.load(std::memory_order_relaxed) ||
               GenerationOf(claims_.load(std::memory_order_relaxed)) != seen;
    };
    if (!SpinUntil(fresh)) SleepUntil(&worker.wake, fresh);
    return !stopping_.load();
}

void WorkerPool::WorkerLoop(void* context) {
    Worker& worker = *static_cast<Worker*>(context);
    WorkerPool& pool = *worker.pool;
    uint32_t seen = 0;
    while (pool.WaitForJob(worker, seen)) {
        while (pool.RunPart(&seen)) {
        }
    }
}

void WaitUntilSet(const std::atomic<bool>& flag) {
    auto set = [&] { return flag.load(std::memory_order_acquire); };
    if (SpinUntil(set)) return;
    while (!set()) KeDelayExecutionThread(-1);
}

uint32_t ConversionWorkerCount() {
    const uint32_t processors = KeQueryActiveProcessorCount();
    return std::min(processors > 1 ? processors - 1 : 0, WorkerPool::kMaxWorkers);
}

}  // namespace bayercam
