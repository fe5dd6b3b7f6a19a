// Non-paged pool: every allocation of the driver goes through here, so that tests can fail any
// one of them and check that nothing is left allocated afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace bayercam {

// Allocates `bytes` bytes filled with zeros, or returns null (out of memory, or an injected
// failure). Each block is allocated at its exact size, so an overread lands in a sanitizer redzone.
void* ExAllocatePoolZero(size_t bytes);
void ExFreePool(void* block);

// Creates a T in zero-filled pool memory (records are plain structures filled with zeros).
template <typename T, typename... Args>
T* PoolNew(Args&&... args) {
    void* block = ExAllocatePoolZero(sizeof(T));
    return block ? new (block) T(std::forward<Args>(args)...) : nullptr;
}

template <typename T>
void PoolDelete(T* object) {
    if (!object) return;
    object->~T();
    ExFreePool(object);
}

// Fault injection and accounting, for tests.
namespace pool {

// Blocks allocated and not yet freed, process-wide.
int64_t LiveAllocations();
// Allocations attempted since the last Reset (failed ones included).
uint64_t AllocationCount();
// Fails the n-th allocation from now (1 = the next one); 0 disables.
void FailNth(uint64_t n);
// Fails each allocation with probability p, from a seeded generator; p = 0 disables.
void FailWithProbability(double p, uint64_t seed);
// Failures injected since the last Reset.
uint64_t InjectedFailures();
// Clears the injection settings and the counters (not the live count).
void Reset();

}  // namespace pool

}  // namespace bayercam
