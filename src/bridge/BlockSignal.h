// Waiting across processes for a word of shared memory to change.
#pragma once

#include <atomic>
#include <cstdint>

namespace bridge {

// The longest a waiter spins before it sleeps: about one round trip of a
// small block, so a prompt answer costs the waiting side no system call.
constexpr int maxSpinMicroseconds = 30;

// How long one waiter spins: halved each time spinning was in vain (where
// both sides share a core it always is, and only delays the other), doubled
// back when it pays off, and tried in full now and then once it reached zero.
class SpinBudget {
public:
    int microseconds() const;
    void spinPaidOff();
    void spinInVain();

private:
    int budget = maxSpinMicroseconds;
    unsigned waitsWithoutSpin = 0;
};

// Wakes whoever sleeps on word.
void wakeWaiters(std::atomic<uint32_t>& word);

// Sleeps while word still holds seen, at most timeoutMs (may return early).
void sleepWhileEqual(std::atomic<uint32_t>& word, uint32_t seen, int timeoutMs);

// Spins for the budget's time, then sleeps at most timeoutMs, until word no
// longer holds seen. Returns the word's value, which is seen on a timeout.
uint32_t awaitChange(std::atomic<uint32_t>& word, uint32_t seen, int timeoutMs, SpinBudget& spin);

}  // namespace bridge
