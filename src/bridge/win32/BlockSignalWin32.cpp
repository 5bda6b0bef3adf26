// Auto-reset events beside the words: a wake that comes before the waiter
// sleeps stays set, so it is never lost, and wakes exactly one waiter.
#include <windows.h>

#include <chrono>

#include "bridge/BlockSignal.h"

namespace bridge {

namespace {

HANDLE eventOf(const WakeWord& word) {
    return ULongToHandle(word.event);
}

}  // namespace

void wakeWaiters(WakeWord& word) {
    SetEvent(eventOf(word));
}

void sleepWhileEqual(WakeWord& word, uint32_t seen, int timeoutMs) {
    // A wake left over from a block the spin already caught ends a wait
    // early; the time left is slept again.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (word.load(std::memory_order_acquire) == seen) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return;
        if (WaitForSingleObject(eventOf(word), static_cast<DWORD>(left)) != WAIT_OBJECT_0) return;
    }
}

}  // namespace bridge
