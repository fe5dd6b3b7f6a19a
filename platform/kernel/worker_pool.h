// A few threads that run the parts of one job alongside the thread that asks for it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace bayercam {

class WorkerPool {
  public:
    using Task = void (*)(void* context, uint32_t part);

    // Starts `threads` workers; fewer when the system refuses more (see Parts()).
    explicit WorkerPool(uint32_t threads);
    // Joins the workers.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The workers plus the caller.
    uint32_t Parts() const { return static_cast<uint32_t>(workers_.size()) + 1; }

    // Runs task(context, part) for every part below Parts(), part 0 on the calling thread, and
    // returns when all have returned. One job at a time.
    void Run(Task task, void* context);

  private:
    void Work(uint32_t part);

    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    Task task_ = nullptr;
    void* context_ = nullptr;
    uint64_t generation_ = 0;
    uint32_t running_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

// Workers for converting one stream's frames: one per further core, at most three.
uint32_t ConversionWorkerCount();

}  // namespace bayercam
