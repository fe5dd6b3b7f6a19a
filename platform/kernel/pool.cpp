#include "platform/kernel/pool.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>

namespace bayercam {
namespace {

std::atomic<int64_t> liveAllocations{0};
std::atomic<uint64_t> allocationCount{0};
std::atomic<uint64_t> failAt{0};
std::atomic<uint64_t> injectedFailures{0};

std::mutex randomLock;
double failProbability = 0.0;
std::mt19937_64 failRandom;

bool ShouldFail(uint64_t index) {
    uint64_t target = failAt.load(std::memory_order_relaxed);
    if (target != 0 && index == target) return true;
    std::lock_guard<std::mutex> guard(randomLock);
    if (failProbability <= 0.0) return false;
    return std::uniform_real_distribution<double>(0.0, 1.0)(failRandom) < failProbability;
}

}  // namespace

void* ExAllocatePoolZero(size_t bytes) {
    uint64_t index = allocationCount.fetch_add(1, std::memory_order_relaxed) + 1;
    if (ShouldFail(index)) {
        injectedFailures.fetch_add(1, std::memory_order_relaxed);
        return nullptr;
    }
    // calloc(0) may return null; a zero-byte request still yields a distinct block.
    void* block = std::calloc(1, bytes == 0 ? 1 : bytes);
    if (block) liveAllocations.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void ExFreePool(void* block) {
    if (!block) return;
    liveAllocations.fetch_sub(1, std::memory_order_relaxed);
    std::free(block);
}

namespace pool {

int64_t LiveAllocations() {
    return liveAllocations.load();
}
uint64_t AllocationCount() {
    return allocationCount.load();
}
uint64_t InjectedFailures() {
    return injectedFailures.load();
}

void FailNth(uint64_t n) {
    failAt.store(n == 0 ? 0 : allocationCount.load() + n);
}

void FailWithProbability(double p, uint64_t seed) {
    std::lock_guard<std::mutex> guard(randomLock);
    failProbability = p;
    failRandom.seed(seed);
}

void Reset() {
    failAt.store(0);
    {
        std::lock_guard<std::mutex> guard(randomLock);
        failProbability = 0.0;
    }
    allocationCount.store(0);
    injectedFailures.store(0);
}

}  // namespace pool
}  // namespace bayercam
