// A few system threads that run the parts of one job alongside the thread that asks for it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/kernel/sync.h"

namespace bayercam {

class WorkerPool {
  public:
    using Task = void (*)(void* context, uint32_t part);

    // More workers than this gain nothing on a frame's few stripes.
    static constexpr uint32_t kMaxWorkers = 3;

    // Starts `threads` workers (at most kMaxWorkers); fewer when the system refuses more (see
    // Parts()).
    explicit WorkerPool(uint32_t threads);
    // Ends and waits for the workers.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The workers plus the caller.
    uint32_t Parts() const { return started_ + 1; }

    // Runs task(context, part) for every part below Parts(), part 0 on the calling thread, and
    // returns when all have returned. One job at a time.
    void Run(Task task, void* context);

  private:
    struct Worker {
        WorkerPool* pool;
        uint32_t part;
        PKTHREAD thread;
        KEVENT start;  // set for each job and at the end; the worker resets it
    };

    static void WorkerLoop(void* worker);

    Worker workers_[kMaxWorkers];
    uint32_t started_ = 0;
    // Written before the workers' start events are set, read after they wake.
    Task task_ = nullptr;
    void* context_ = nullptr;
    bool stopping_ = false;
    std::atomic<uint32_t> running_{0};
    KEVENT finished_;
};

// Workers for converting one stream's frames: one per further processor, at most kMaxWorkers.
uint32_t ConversionWorkerCount();

}  // namespace bayercam
