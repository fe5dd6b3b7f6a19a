// Low-resource and failing-bus runs: for every allocation and every USB request a clean camera
// life makes, one run where exactly that one fails, plus seeded runs where many fail at random.
// Every run must end with the device stopped and removed, nothing left allocated, no hang, and
// each settings file either as it was or as a clean run writes it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "platform/pool.h"
#include "robustness/bounded_run.h"
#include "robustness/device_scenario.h"

namespace bayercam::testing {
namespace {

// Every k-th fault only, from BAYERCAM_FAULT_STRIDE (default 1: every one), for slow sanitizer
// builds; the runs stay deterministic.
uint64_t Stride() {
    const char* text = std::getenv("BAYERCAM_FAULT_STRIDE");
    uint64_t stride = text ? std::strtoull(text, nullptr, 10) : 1;
    return stride > 0 ? stride : 1;
}

class FaultInjectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pool::Reset();
        live_ = pool::LiveAllocations();
        // A first run writes the settings; what it leaves is both the "old" state every run
        // starts from and the "new" state a run may produce.
        RunBounded("first run", [] { RunScenario({}); });
        written_ = folder_.Snapshot();
        old_ = written_;
        for (auto& [path, text] : old_) text = "# before the run\n" + text;
    }
    void TearDown() override { pool::Reset(); }

    // One run from the old settings, with `arm` choosing the faults; checks the outcome.
    ScenarioOutcome Run(const std::string& what, std::function<void(SimDevice&)> arm) {
        folder_.Restore(old_);
        ScenarioOutcome outcome;
        RunBounded(what, [&] {
            ScenarioOptions options;
            options.arm = std::move(arm);
            outcome = RunScenario(options);
        });
        lastAllocations_ = pool::AllocationCount();
        lastInjected_ = pool::InjectedFailures();
        pool::Reset();
        EXPECT_EQ(pool::LiveAllocations(), live_) << what << ": leaked";
        SettingsSnapshot now = folder_.Snapshot();
        for (const auto& [path, text] : now) {
            bool known = (old_.count(path) && old_.at(path) == text) ||
                         (written_.count(path) && written_.at(path) == text);
            EXPECT_TRUE(known) << what << ": " << path << " is neither old nor new:\n" << text;
        }
        for (const auto& [path, text] : old_) {
            EXPECT_TRUE(now.count(path)) << what << ": " << path << " vanished";
        }
        return outcome;
    }

    SettingsFolder folder_;
    int64_t live_ = 0;
    uint64_t lastAllocations_ = 0;  // of the last run, failed ones included
    uint64_t lastInjected_ = 0;
    SettingsSnapshot old_;
    SettingsSnapshot written_;
};

TEST_F(FaultInjectionTest, EveryAllocationFailsOnce) {
    pool::Reset();
    ScenarioOutcome clean = Run("clean run", {});
    ASSERT_TRUE(NT_SUCCESS(clean.startStatus));
    ASSERT_EQ(clean.framesFailed, 0);
    // Counted from the clean run so that a new allocation anywhere is covered automatically.
    pool::Reset();
    Run("counting run", {});
    uint64_t allocations = lastAllocations_;
    ASSERT_GT(allocations, 0u);
    int startFailures = 0;
    for (uint64_t k = 1; k <= allocations; k += Stride()) {
        pool::Reset();
        ScenarioOutcome outcome =
            Run("allocation " + std::to_string(k), [k](SimDevice&) { pool::FailNth(k); });
        if (!NT_SUCCESS(outcome.startStatus)) ++startFailures;
    }
    std::printf("[ figures ] allocation runs: %llu, starts failed: %d\n",
                static_cast<unsigned long long>(allocations), startFailures);
}

TEST_F(FaultInjectionTest, EveryUsbRequestFailsOnce) {
    // The requests of a clean run, counted by kind (and endpoint for transfers).
    std::map<std::pair<BusRequestKind, int>, uint32_t> counts;
    std::mutex countsLock;
    RunBounded("counting run", [&] {
        ScenarioOptions options;
        options.arm = [&](SimDevice& sim) {
            sim.bus.Recorder().SetSink([&](const BusRecord& record) {
                if (!record.completed) return;
                std::lock_guard<std::mutex> guard(countsLock);
                int endpoint = record.kind == BusRequestKind::BulkOrInterrupt
                                   ? record.endpoint
                                   : BusFault::kAnyEndpoint;
                ++counts[{record.kind, endpoint}];
            });
        };
        RunScenario(options);
    });
    ASSERT_FALSE(counts.empty());
    uint64_t runs = 0;
    for (const auto& [key, count] : counts) {
        for (uint32_t n = 1; n <= count; n += static_cast<uint32_t>(Stride())) {
            std::string what = std::string(BusRequestKindName(key.first)) + " endpoint " +
                               std::to_string(key.second) + " request " + std::to_string(n);
            Run(what, [key, n](SimDevice& sim) {
                sim.bus.InjectFault({key.first, n, STATUS_UNSUCCESSFUL,
                                     USBD_STATUS_DEV_NOT_RESPONDING, key.second});
            });
            ++runs;
        }
    }
    std::printf("[ figures ] USB request runs: %llu\n", static_cast<unsigned long long>(runs));
}

TEST_F(FaultInjectionTest, SeededRandomAllocationFailures) {
    struct Case {
        double probability;
        uint64_t seeds;
    };
    const Case cases[] = {{0.001, 20}, {0.01, 20}, {0.1, 10}};
    uint64_t injected = 0;
    for (const Case& c : cases) {
        for (uint64_t seed = 1; seed <= c.seeds; ++seed) {
            pool::Reset();
            Run("p=" + std::to_string(c.probability) + " seed " + std::to_string(seed),
                [&](SimDevice&) { pool::FailWithProbability(c.probability, seed); });
            injected += lastInjected_;
        }
    }
    std::printf("[ figures ] random allocation failures injected: %llu\n",
                static_cast<unsigned long long>(injected));
}

}  // namespace
}  // namespace bayercam::testing
