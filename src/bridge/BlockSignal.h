// Waiting across processes for a word of shared memory to change.
#pragma once

#include <atomic>
#include <cstdint>

namespace bridge {

// How long a waiter spins before it sleeps: about one round trip of a small
// block, so a prompt answer costs no system call on the waiting side.
constexpr int spinMicroseconds = 30;

// Wakes whoever sleeps on word.
void wakeWaiters(std::atomic<uint32_t>& word);

// Sleeps while word still holds seen, at most timeoutMs (may return early).
void sleepWhileEqual(std::atomic<uint32_t>& word, uint32_t seen, int timeoutMs);

// Spins for a bounded time, then sleeps at most timeoutMs, until word no
// longer holds seen. Returns the word's value, which is seen on a timeout.
uint32_t awaitChange(std::atomic<uint32_t>& word, uint32_t seen, int timeoutMs);

}  // namespace bridge
