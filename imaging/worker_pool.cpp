#include "imaging/worker_pool.h"

#include <algorithm>

namespace bayercam {

WorkerPool::WorkerPool(uint32_t threads) {
    KeInitializeEvent(&finished_);
    const uint32_t wanted = std::min(threads, kMaxWorkers);
    for (uint32_t i = 0; i < wanted; ++i) {
        Worker& worker = workers_[i];
        worker.pool = this;
        worker.part = i + 1;
        KeInitializeEvent(&worker.start);
        if (!NT_SUCCESS(PsCreateSystemThread(&worker.thread, &WorkerLoop, &worker))) break;
        ++started_;
    }
}

WorkerPool::~WorkerPool() {
    stopping_ = true;
    for (uint32_t i = 0; i < started_; ++i) KeSetEvent(&workers_[i].start);
    for (uint32_t i = 0; i < started_; ++i) {
        KeWaitForThread(workers_[i].thread, nullptr);
        ObDereferenceObject(workers_[i].thread);
    }
}

void WorkerPool::Run(Task task, void* context) {
    task_ = task;
    context_ = context;
    running_.store(started_);
    KeResetEvent(&finished_);
    for (uint32_t i = 0; i < started_; ++i) KeSetEvent(&workers_[i].start);
    task(context, 0);
    if (started_ > 0) KeWaitForSingleObject(&finished_, nullptr);
}

void WorkerPool::WorkerLoop(void* context) {
    Worker& worker = *static_cast<Worker*>(context);
    WorkerPool& pool = *worker.pool;
    for (;;) {
        KeWaitForSingleObject(&worker.start, nullptr);
        // The next job's event is set only after this job has finished, so after this reset.
        KeResetEvent(&worker.start);
        if (pool.stopping_) return;
        pool.task_(pool.context_, worker.part);
        if (pool.running_.fetch_sub(1) == 1) KeSetEvent(&pool.finished_);
    }
}

uint32_t ConversionWorkerCount() {
    const uint32_t processors = KeQueryActiveProcessorCount();
    return std::min(processors > 1 ? processors - 1 : 0, WorkerPool::kMaxWorkers);
}

}  // namespace bayercam
