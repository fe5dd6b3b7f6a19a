// The conversion workers: every part of every job runs once, each worker on its own system
// thread, with as many workers as the system grants; nothing is left behind when the pool ends.
#include "imaging/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/pool.h"

namespace bayercam::test {
namespace {

struct Tally {
    std::vector<std::atomic<uint32_t>> runs;
    std::vector<std::thread::id> threads;

    explicit Tally(uint32_t parts) : runs(parts), threads(parts) {}

    static void Count(void* context, uint32_t part) {
        auto* tally = static_cast<Tally*>(context);
        tally->threads[part] = std::this_thread::get_id();
        tally->runs[part].fetch_add(1);
    }
};

TEST(WorkerPool, RunsEveryPartOfEveryJobOnceOnItsOwnThread) {
    struct Case {
        uint32_t requested;
        uint64_t failCreation;  // the n-th thread creation fails; 0: none
        uint32_t parts;
    } cases[] = {
        {0, 0, 1}, {1, 0, 2}, {3, 0, 4}, {8, 0, 4},  // capped at three workers
        {3, 1, 1}, {3, 2, 2}, {3, 3, 3},             // the system refuses a thread
    };
    constexpr uint32_t kJobs = 200;
    const int64_t liveBefore = pool::LiveAllocations();
    for (const Case& c : cases) {
        const std::string what =
            std::to_string(c.requested) + " requested, failing " + std::to_string(c.failCreation);
        threads::FailNth(c.failCreation);
        {
            WorkerPool workers(c.requested);
            threads::FailNth(0);
            ASSERT_EQ(workers.Parts(), c.parts) << what;
            Tally tally(c.parts);
            for (uint32_t job = 0; job < kJobs; ++job) {
                workers.Run(&Tally::Count, &tally);
                // Every part has finished when Run returns.
                for (uint32_t part = 0; part < c.parts; ++part) {
                    ASSERT_EQ(tally.runs[part].load(), job + 1) << what << ", part " << part;
                }
            }
            EXPECT_EQ(tally.threads[0], std::this_thread::get_id()) << what;
            const std::set<std::thread::id> distinct(tally.threads.begin(), tally.threads.end());
            EXPECT_EQ(distinct.size(), c.parts) << what;
        }
        EXPECT_EQ(pool::LiveAllocations(), liveBefore) << what;
    }
}

TEST(WorkerPool, StartsAndStopsWithoutAJob) {
    const int64_t liveBefore = pool::LiveAllocations();
    for (int round = 0; round < 50; ++round) {
        WorkerPool workers(WorkerPool::kMaxWorkers);
        EXPECT_EQ(workers.Parts(), WorkerPool::kMaxWorkers + 1);
    }
    EXPECT_EQ(pool::LiveAllocations(), liveBefore);
}

}  // namespace
}  // namespace bayercam::test
