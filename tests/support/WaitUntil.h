// Polling for what the program does in its own time.
#pragma once

#include <chrono>
#include <thread>

namespace testing_support {

// True as soon as the condition holds, false if it still does not at the end.
template <typename Condition>
bool waitUntil(const Condition& holds, int timeoutMs, int pollMs = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!holds()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}

}  // namespace testing_support
