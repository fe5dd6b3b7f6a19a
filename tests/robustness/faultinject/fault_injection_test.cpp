// Low-resource and failing-bus runs of a client's whole camera life (device start, stream start
// through the filter and pin, frames, property requests, stop): for every allocation and every
// USB request a clean life makes, one run where exactly that one fails, plus seeded runs where
// many fail at random. Every run must end with the device stopped and removed, nothing left
// allocated, no hang, and each settings file either as it was or as a clean run writes it.
//
// Faults are counted from the start of the phase they fall in, so that the capture thread's
// reads, whose number depends on timing, shift no count but their own phase's. A run whose fault
// has taken effect stops taking frames two frames later. Every frame repeats the same reads, so
// the frame phase's faults are those of its first kFaultFrames frames, every kFrameStride-th
// (coprime with the allocations and requests of one frame, so successive frames fail at
// different places).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <tuple>
#include <vector>

#include "platform/kernel/pool.h"
#include "platform/registry/registry_text.h"
#include "robustness/bounded_run.h"
#include "robustness/device_scenario.h"

namespace bayercam::testing {
namespace {

constexpr int kFrames = 100;          // frames of the clean life
constexpr int kFramesAfterFault = 2;  // frames a fault run takes once its fault took effect
constexpr int kFaultFrames = 5;       // frames whose allocations and requests are failed
constexpr uint64_t kFrameStride = 4;
constexpr USBD_STATUS kInjectedUsbd = USBD_STATUS_DEV_NOT_RESPONDING;

// Every k-th fault only, from BAYERCAM_FAULT_STRIDE (default 1: every one), for slow sanitizer
// builds; the runs stay deterministic.
uint64_t Stride() {
    const char* text = std::getenv("BAYERCAM_FAULT_STRIDE");
    uint64_t stride = text ? std::strtoull(text, nullptr, 10) : 1;
    return stride > 0 ? stride : 1;
}

uint64_t StrideFor(ScenarioPhase phase) {
    return phase == ScenarioPhase::Frames ? Stride() * kFrameStride : Stride();
}

// Transfers are told apart by endpoint, other requests by kind alone.
struct RequestKey {
    ScenarioPhase phase;
    BusRequestKind kind;
    int endpoint;
    bool operator<(const RequestKey& other) const {
        return std::tie(phase, kind, endpoint) < std::tie(other.phase, other.kind, other.endpoint);
    }
};

constexpr auto kUncounted = static_cast<ScenarioPhase>(-1);

int EndpointOf(const BusRecord& record) {
    return record.kind == BusRequestKind::BulkOrInterrupt ? record.endpoint
                                                          : BusFault::kAnyEndpoint;
}

// What a clean life does, phase by phase.
struct LifeCounts {
    std::map<ScenarioPhase, uint64_t> allocations;
    std::map<RequestKey, uint32_t> requests;
};

// One run's faults: `arm` is called at the start of every phase; `phase` is the earliest one
// that arms anything.
struct Fault {
    std::string what;
    ScenarioPhase phase;
    std::function<void(SimDevice&, ScenarioPhase)> arm;
};

// A run whose settings load failed saves every value it holds, having read none: `text` must
// then be one whole save (every line a value) that keeps each value of `old` it did not set.
bool WholeSaveOver(const std::string& old, const std::string& text) {
    size_t lines = 0;
    for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
        if (text[at] != '#' && text[at] != '\n') ++lines;
        if (text.find('\n', at) == std::string::npos) return false;
    }
    std::vector<RegistryValue> values = ParseRegistryValues(text);
    if (values.empty() || values.size() != lines) return false;
    for (const RegistryValue& value : ParseRegistryValues(old)) {
        if (!FindRegistryValue(values, value.name)) return false;
    }
    return true;
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

    LifeCounts CountCleanLife() {
        LifeCounts counts;
        std::mutex lock;
        std::atomic<ScenarioPhase> phase{ScenarioPhase::Start};
        std::map<ScenarioPhase, uint64_t> startedAt;
        uint64_t uncountedFrom = 0;
        ScenarioOutcome outcome;
        folder_.Restore(old_);
        pool::Reset();
        RunBounded("counting run", [&] {
            ScenarioOptions options;
            options.frames = kFrames;
            options.arm = [&](SimDevice& sim) {
                sim.bus.Recorder().SetSink([&](const BusRecord& record) {
                    if (record.completed) return;
                    std::lock_guard<std::mutex> guard(lock);
                    ++counts.requests[{phase.load(), record.kind, EndpointOf(record)}];
                });
            };
            options.atPhase = [&](SimDevice&, ScenarioPhase next) {
                phase.store(next);
                startedAt[next] = pool::AllocationCount();
            };
            // Past the frames that fault runs fail, requests count for no phase.
            options.enoughFrames = [&](int frames) {
                if (frames == kFaultFrames) {
                    phase.store(kUncounted);
                    uncountedFrom = pool::AllocationCount();
                }
                return false;
            };
            outcome = RunScenario(options);
        });
        EXPECT_EQ(outcome.startStatus, STATUS_SUCCESS);
        EXPECT_TRUE(outcome.streaming);
        EXPECT_EQ(outcome.framesGood, kFrames);
        uint64_t end = pool::AllocationCount();
        for (auto it = startedAt.rbegin(); it != startedAt.rend(); ++it) {
            counts.allocations[it->first] =
                (it->first == ScenarioPhase::Frames ? uncountedFrom : end) - it->second;
            end = it->second;
        }
        pool::Reset();
        return counts;
    }

    // One run from the old settings with `fault` armed; checks the outcome.
    void Run(const Fault& fault) {
        folder_.Restore(old_);
        pool::Reset();
        std::atomic<bool> requestFailed{false};
        RunBounded(fault.what, [&] {
            ScenarioOptions options;
            options.frames = kFrames;
            options.arm = [&](SimDevice& sim) {
                sim.bus.Recorder().SetSink([&](const BusRecord& record) {
                    if (record.completed && record.usbdStatus == kInjectedUsbd)
                        requestFailed.store(true);
                });
            };
            options.atPhase = fault.arm;
            int firedAt = -1;
            options.enoughFrames = [&](int frames) {
                bool fired = fault.phase > ScenarioPhase::Frames || pool::InjectedFailures() > 0 ||
                             requestFailed.load();
                if (fired && firedAt < 0) firedAt = frames;
                return fired && frames >= firedAt + kFramesAfterFault;
            };
            RunScenario(options);
        });
        ++runs_;
        injected_ += pool::InjectedFailures() + (requestFailed.load() ? 1 : 0);
        pool::Reset();
        EXPECT_EQ(pool::LiveAllocations(), live_) << fault.what << ": leaked";
        SettingsSnapshot now = folder_.Snapshot();
        for (const auto& [path, text] : now) {
            bool known = (old_.count(path) && old_.at(path) == text) ||
                         (written_.count(path) && written_.at(path) == text) ||
                         WholeSaveOver(old_.count(path) ? old_.at(path) : "", text);
            EXPECT_TRUE(known) << fault.what << ": " << path
                               << " is neither old, nor new, nor a whole save over the old:\n"
                               << text;
        }
        for (const auto& [path, text] : old_) {
            EXPECT_TRUE(now.count(path)) << fault.what << ": " << path << " vanished";
        }
    }

    void Figures(const char* what) const {
        std::printf("[ figures ] %s: %llu runs, %llu faults injected\n", what,
                    static_cast<unsigned long long>(runs_),
                    static_cast<unsigned long long>(injected_));
    }

    SettingsFolder folder_;
    int64_t live_ = 0;
    uint64_t runs_ = 0;
    uint64_t injected_ = 0;
    SettingsSnapshot old_;
    SettingsSnapshot written_;
};

Fault AllocationFault(ScenarioPhase phase, uint64_t k) {
    return {std::string(ScenarioPhaseName(phase)) + ": allocation " + std::to_string(k), phase,
            [phase, k](SimDevice&, ScenarioPhase now) {
                if (now == phase) pool::FailNth(k);
            }};
}

Fault RequestFault(const RequestKey& key, uint32_t n) {
    return {std::string(ScenarioPhaseName(key.phase)) + ": " + BusRequestKindName(key.kind) +
                " endpoint " + std::to_string(key.endpoint) + " request " + std::to_string(n),
            key.phase, [key, n](SimDevice& sim, ScenarioPhase now) {
                if (now == key.phase)
                    sim.bus.InjectFault(
                        {key.kind, n, STATUS_UNSUCCESSFUL, kInjectedUsbd, key.endpoint});
            }};
}

// One test per phase, the long start phase in shards, so that ctest spreads them over the cores.
struct Slice {
    ScenarioPhase phase;
    uint64_t shard;
    uint64_t shards;
};

class EveryAllocationFailsOnce : public FaultInjectionTest,
                                 public ::testing::WithParamInterface<Slice> {};

TEST_P(EveryAllocationFailsOnce, InPhase) {
    const Slice slice = GetParam();
    const uint64_t allocations = CountCleanLife().allocations[slice.phase];
    const uint64_t stride = StrideFor(slice.phase);
    for (uint64_t k = 1 + slice.shard * stride; k <= allocations; k += stride * slice.shards)
        Run(AllocationFault(slice.phase, k));
    std::printf("[ figures ] %s: %llu allocations in a clean life\n",
                ScenarioPhaseName(slice.phase), static_cast<unsigned long long>(allocations));
    Figures("allocation faults");
}

class EveryRequestFailsOnce : public FaultInjectionTest,
                              public ::testing::WithParamInterface<Slice> {};

TEST_P(EveryRequestFailsOnce, InPhase) {
    const Slice slice = GetParam();
    const uint64_t stride = StrideFor(slice.phase);
    uint64_t index = 0;
    for (const auto& [key, count] : CountCleanLife().requests) {
        if (key.phase != slice.phase) continue;
        for (uint32_t n = 1; n <= count; n += static_cast<uint32_t>(stride)) {
            if (index++ % slice.shards == slice.shard) Run(RequestFault(key, n));
        }
    }
    Figures("USB request faults");
}

std::string SliceName(const ::testing::TestParamInfo<Slice>& info) {
    std::string name = ScenarioPhaseName(info.param.phase);
    std::erase(name, ' ');
    if (info.param.shards > 1) name += std::to_string(info.param.shard + 1);
    return name;
}

INSTANTIATE_TEST_SUITE_P(
    Life, EveryAllocationFailsOnce,
    ::testing::Values(Slice{ScenarioPhase::Start, 0, 3}, Slice{ScenarioPhase::Start, 1, 3},
                      Slice{ScenarioPhase::Start, 2, 3}, Slice{ScenarioPhase::StreamStart, 0, 1},
                      Slice{ScenarioPhase::Frames, 0, 1}, Slice{ScenarioPhase::Properties, 0, 1},
                      Slice{ScenarioPhase::Stop, 0, 1}),
    SliceName);
INSTANTIATE_TEST_SUITE_P(
    Life, EveryRequestFailsOnce,
    ::testing::Values(Slice{ScenarioPhase::Start, 0, 2}, Slice{ScenarioPhase::Start, 1, 2},
                      Slice{ScenarioPhase::StreamStart, 0, 1}, Slice{ScenarioPhase::Frames, 0, 1},
                      Slice{ScenarioPhase::Properties, 0, 1}, Slice{ScenarioPhase::Stop, 0, 1}),
    SliceName);

// Allocations failing at random over the whole life, with a few requests failing at random
// places as well.
TEST_F(FaultInjectionTest, SeededRandomFailures) {
    const LifeCounts counts = CountCleanLife();
    std::vector<std::pair<RequestKey, uint32_t>> requests;
    for (const auto& entry : counts.requests)
        if (entry.first.phase != kUncounted) requests.push_back(entry);
    struct Case {
        double probability;
        uint64_t seeds;
    };
    const Case cases[] = {{0.001, 20}, {0.01, 20}, {0.1, 10}};
    for (const Case& c : cases) {
        for (uint64_t seed = 1; seed <= c.seeds; ++seed) {
            std::mt19937_64 random(seed);
            std::vector<std::pair<RequestKey, uint32_t>> chosen;
            for (int i = 0; i < 3; ++i) {
                const auto& [key, count] = requests[random() % requests.size()];
                chosen.push_back({key, static_cast<uint32_t>(1 + random() % count)});
            }
            Fault fault{"p=" + std::to_string(c.probability) + " seed " + std::to_string(seed),
                        ScenarioPhase::Start, [&](SimDevice& sim, ScenarioPhase now) {
                            if (now == ScenarioPhase::Start)
                                pool::FailWithProbability(c.probability, seed);
                            for (const auto& [key, n] : chosen) RequestFault(key, n).arm(sim, now);
                        }};
            Run(fault);
        }
    }
    Figures("seeded random faults");
}

}  // namespace
}  // namespace bayercam::testing
