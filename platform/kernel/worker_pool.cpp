#include "platform/kernel/worker_pool.h"

#include <algorithm>
#include <system_error>

#include "platform/kernel/thread_cpu.h"

namespace bayercam {

WorkerPool::WorkerPool(uint32_t threads) {
    workers_.reserve(threads);
    for (uint32_t i = 0; i < threads; ++i) {
        try {
            workers_.emplace_back([this, part = i + 1] { Work(part); });
        } catch (const std::system_error&) {
            break;
        }
    }
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void WorkerPool::Run(Task task, void* context) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        task_ = task;
        context_ = context;
        running_ = static_cast<uint32_t>(workers_.size());
        ++generation_;
    }
    wake_.notify_all();
    task(context, 0);
    std::unique_lock<std::mutex> lock(lock_);
    finished_.wait(lock, [this] { return running_ == 0; });
}

void WorkerPool::Work(uint32_t part) {
    DriverThreadCpu accounted;
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
        if (stopping_) return;
        seen = generation_;
        const Task task = task_;
        void* context = context_;
        lock.unlock();
        task(context, part);
        lock.lock();
        if (--running_ == 0) finished_.notify_one();
    }
}

uint32_t ConversionWorkerCount() {
    constexpr uint32_t kMostWorkers = 3;
    const uint32_t cores = std::thread::hardware_concurrency();
    return std::min(cores > 1 ? cores - 1 : 0, kMostWorkers);
}

}  // namespace bayercam
