// Runs a piece of a test on its own thread and gives up on the whole program when it does not
// finish within a generous bound: a hung driver must fail the suite, not stall it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <thread>

namespace bayercam::testing {

constexpr std::chrono::seconds kHangBound{120};

inline void RunBounded(const std::string& what, const std::function<void()>& body) {
    std::packaged_task<void()> task(body);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(kHangBound) != std::future_status::ready) {
        std::fprintf(stderr, "HANG: %s did not finish\n", what.c_str());
        std::abort();  // the stuck thread cannot be joined or abandoned safely
    }
    runner.join();
    done.get();
}

}  // namespace bayercam::testing
