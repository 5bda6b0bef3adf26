// Waiting across processes for a word of shared memory to change.
#pragma once

#include <atomic>
#include <cstdint>

namespace bridge {

// A word in shared memory that one side counts up and the other waits on.
// On Windows the waiter sleeps on an auto-reset event whose handle the
// plug-in process inherits, so its number is the same in both processes;
// on Linux the word itself is what the waiter sleeps on.
struct WakeWord {
    std::atomic<uint32_t> value;
    // Waiters that went, or are about to go, to sleep: publish wakes only
    // when there are any. Written by both sides, so a plug-in process that
    // corrupts it delays only its own answers.
    std::atomic<uint32_t> sleepers;
    uint32_t event;  // Windows only: the event's handle

    uint32_t load(std::memory_order order) const { return value.load(order); }
    void store(uint32_t next, std::memory_order order) { value.store(next, order); }
};

// The longest a waiter spins before it sleeps, so a prompt answer costs the
// waiting side no system call. Kept short: with many sessions on few cores a
// spinner holds the core that the side it waits for needs (at 32 sessions
// on 2 cores, 30 us made about 5 % of the replies late, 8 us under 1 %).
constexpr int maxSpinMicroseconds = 8;

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

// Stores next into word and wakes whoever sleeps on it. A waiter that is
// still spinning, or has not yet been put to sleep, costs no system call:
// where both sides share a core, the answering side usually finds the
// waiter preempted rather than asleep.
void publish(WakeWord& word, uint32_t next);

// Wakes whoever sleeps on word, whether or not it counted itself a sleeper.
void wakeWaiters(WakeWord& word);

// Sleeps while word still holds seen, at most timeoutMs (may return early).
void sleepWhileEqual(WakeWord& word, uint32_t seen, int timeoutMs);

// Spins for the budget's time, then sleeps at most timeoutMs, until word no
// longer holds seen. Returns the word's value, which is seen on a timeout.
uint32_t awaitChange(WakeWord& word, uint32_t seen, int timeoutMs, SpinBudget& spin);

}  // namespace bridge
