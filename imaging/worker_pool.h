// A few system threads that share the parts of one job with the thread that asks for it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/kernel/sync.h"

namespace bayercam {

class WorkerPool {
  public:
    using Task = void (*)(void* context, uint32_t part);

    // More workers than this gain nothing on a frame's few bands.
    static constexpr uint32_t kMaxWorkers = 3;
    // Parts of one job, at most.
    static constexpr uint32_t kMaxParts = 0xFFFF;

    // Starts `threads` workers (at most kMaxWorkers); fewer when the system refuses more (see
    // Threads()).
    explicit WorkerPool(uint32_t threads);
    // Ends and waits for the workers.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The workers plus the caller.
    uint32_t Threads() const { return started_ + 1; }

    // Runs task(context, part) once for every part below `parts` (at most kMaxParts), on the
    // calling thread and the workers alike, each taking the next part as it gets to it, so a
    // worker that wakes late takes fewer parts rather than holding the caller up. Returns when
    // all have returned. One job at a time.
    void Run(Task task, void* context, uint32_t parts);

  private:
    struct Worker {
        WorkerPool* pool;
        PKTHREAD thread;
        KEVENT wake;  // set for each job and at the end
    };

    static void WorkerLoop(void* worker);
    // Waits for a job newer than `seen`; false when the pool is ending.
    bool WaitForJob(Worker& worker, uint32_t seen);
    // Takes the next part of the current job and runs it; false when none is left. Sets
    // `generation` to the job's.
    bool RunPart(uint32_t* generation);
    void WaitUntilFinished();

    Worker workers_[kMaxWorkers];
    uint32_t started_ = 0;
    uint16_t generation_ = 0;  // the caller's count of jobs, wrapping
    // The job in progress: written before it is published in claims_, read only by a thread
    // holding one of its unfinished parts.
    Task task_ = nullptr;
    void* context_ = nullptr;
    // Generation (bits 48 up), parts (32..47) and the next part to take (0..31) of the job.
    std::atomic<uint64_t> claims_{0};
    std::atomic<uint32_t> unfinished_{0};
    std::atomic<bool> stopping_{false};
    KEVENT finished_;  // set by whoever finishes a job's last part
};

// Waits for another part of the same job to set `flag`: polls, then sleeps a little at a time.
void WaitUntilSet(const std::atomic<bool>& flag);

// Workers for converting one stream's frames: one per further processor, at most kMaxWorkers.
uint32_t ConversionWorkerCount();

}  // namespace bayercam
