#include "bridge/BlockSignal.h"

#include <chrono>

namespace bridge {

namespace {

inline void relaxCpu() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

uint32_t awaitChange(std::atomic<uint32_t>& word, uint32_t seen, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto spinEnd = Clock::now() + std::chrono::microseconds(spinMicroseconds);
    for (unsigned round = 1;; ++round) {
        const uint32_t now = word.load(std::memory_order_acquire);
        if (now != seen) return now;
        relaxCpu();
        // The clock is read rarely: it is cheap, but not free.
        if (round % 64 == 0 && Clock::now() >= spinEnd) break;
    }
    sleepWhileEqual(word, seen, timeoutMs);
    return word.load(std::memory_order_acquire);
}

}  // namespace bridge
