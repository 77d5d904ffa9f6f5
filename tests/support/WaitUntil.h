// A bounded wait on a condition, for tests whose peers run on threads of their own.
#pragma once

#include <chrono>
#include <thread>

namespace velqor::test {

// Asks pred every few milliseconds until it holds or timeout has passed; returns its last
// answer. The bound is generous: it only ends a test that would otherwise hang.
template <class Pred>
bool WaitUntil(Pred&& pred, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace velqor::test
