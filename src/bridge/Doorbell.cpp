#include "bridge/Doorbell.h"

namespace bridge {

void Doorbell::ring() {
    // Ringers racing each other may store the same count; the waiter only
    // needs it to differ from what it saw.
    publish(word, word.load(std::memory_order_relaxed) + 1);
}

void Doorbell::wait(int timeoutMs) {
    seen = awaitChange(word, seen, timeoutMs, spin);
}

}  // namespace bridge
