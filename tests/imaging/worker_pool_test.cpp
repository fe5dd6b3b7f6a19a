// The conversion workers: every part of every job runs once, with as many workers as the system
// grants; nothing is left behind when the pool ends.
#include "imaging/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/pool.h"

namespace bayercam::test {
namespace {

struct Tally {
    std::vector<std::atomic<uint32_t>> runs;

    explicit Tally(uint32_t parts) : runs(parts) {}

    static void Count(void* context, uint32_t part) {
        static_cast<Tally*>(context)->runs[part].fetch_add(1);
    }
};

TEST(WorkerPool, RunsEveryPartOfEveryJobOnce) {
    struct Case {
        uint32_t requested;
        uint64_t failCreation;  // the n-th thread creation fails; 0: none
        uint32_t threads;
    } cases[] = {
        {0, 0, 1}, {1, 0, 2}, {3, 0, 4}, {8, 0, 4},  // capped at three workers
        {3, 1, 1}, {3, 2, 2}, {3, 3, 3},             // the system refuses a thread
    };
    // Fewer parts than threads, as many, more; jobs back to back and with pauses that let the
    // workers fall asleep.
    constexpr uint32_t kParts[] = {0, 1, 3, 32, 200};
    constexpr uint32_t kJobs = 60;
    const int64_t liveBefore = pool::LiveAllocations();
    for (const Case& c : cases) {
        const std::string what =
            std::to_string(c.requested) + " requested, failing " + std::to_string(c.failCreation);
        threads::FailNth(c.failCreation);
        {
            WorkerPool workers(c.requested);
            threads::FailNth(0);
            ASSERT_EQ(workers.Threads(), c.threads) << what;
            for (uint32_t job = 0; job < kJobs; ++job) {
                const uint32_t parts = kParts[job % std::size(kParts)];
                Tally tally(parts);
                workers.Run(&Tally::Count, &tally, parts);
                // Every part has finished when Run returns.
                for (uint32_t part = 0; part < parts; ++part) {
                    ASSERT_EQ(tally.runs[part].load(), 1u) << what << ", part " << part;
                }
                if (job % 20 == 19) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        EXPECT_EQ(pool::LiveAllocations(), liveBefore) << what;
    }
}

TEST(WorkerPool, StartsAndStopsWithoutAJob) {
    const int64_t liveBefore = pool::LiveAllocations();
    for (int round = 0; round < 50; ++round) {
        WorkerPool workers(WorkerPool::kMaxWorkers);
        EXPECT_EQ(workers.Threads(), WorkerPool::kMaxWorkers + 1);
    }
    EXPECT_EQ(pool::LiveAllocations(), liveBefore);
}

}  // namespace
}  // namespace bayercam::test
