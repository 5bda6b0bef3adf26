#include "bridge/BlockSignal.h"

#include <algorithm>
#include <chrono>

namespace bridge {

namespace {

// Once the budget is spent, one wait in this many spins in full again, to
// notice when the other side has a core of its own once more.
constexpr unsigned probeEvery = 64;

inline void relaxCpu() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

int SpinBudget::microseconds() const {
    if (budget > 0) return budget;
    return waitsWithoutSpin % probeEvery == probeEvery - 1 ? maxSpinMicroseconds : 0;
}

void SpinBudget::spinPaidOff() {
    budget = budget == 0 ? maxSpinMicroseconds : std::min(2 * budget, maxSpinMicroseconds);
    waitsWithoutSpin = 0;
}

void SpinBudget::spinInVain() {
    budget /= 2;
    if (budget == 0) ++waitsWithoutSpin;
}

uint32_t awaitChange(WakeWord& word, uint32_t seen, int timeoutMs, SpinBudget& spin) {
    uint32_t now = word.load(std::memory_order_acquire);
    if (now != seen) return now;
    const int spinMicros = spin.microseconds();
    if (spinMicros > 0) {
        using Clock = std::chrono::steady_clock;
        const auto spinEnd = Clock::now() + std::chrono::microseconds(spinMicros);
        for (unsigned round = 1;; ++round) {
            now = word.load(std::memory_order_acquire);
            if (now != seen) {
                spin.spinPaidOff();
                return now;
            }
            relaxCpu();
            // The clock is read rarely: it is cheap, but not free.
            if (round % 64 == 0 && Clock::now() >= spinEnd) break;
        }
    }
    spin.spinInVain();
    // Counted before the last look: either publish sees the count, or this
    // look sees its value (both sequentially consistent).
    word.sleepers.fetch_add(1, std::memory_order_seq_cst);
    if (word.value.load(std::memory_order_seq_cst) == seen) sleepWhileEqual(word, seen, timeoutMs);
    word.sleepers.fetch_sub(1, std::memory_order_relaxed);
    return word.load(std::memory_order_acquire);
}

void publish(WakeWord& word, uint32_t next) {
    word.value.store(next, std::memory_order_seq_cst);
    if (word.sleepers.load(std::memory_order_seq_cst) != 0) wakeWaiters(word);
}

}  // namespace bridge
