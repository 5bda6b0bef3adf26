// A wake-up that any thread rings, the audio thread included, and one
// thread waits for: no lock, and no system call unless the waiter sleeps.
#pragma once

#include <cstdint>

#include "bridge/BlockSignal.h"

namespace bridge {

class Doorbell {
public:
    Doorbell();  // per platform: the wake event where the platform needs one
    // NOLINTNEXTLINE(performance-trivially-destructible): Windows closes its event here
    ~Doorbell();
    Doorbell(const Doorbell&) = delete;
    Doorbell& operator=(const Doorbell&) = delete;

    // Any thread.
    void ring();
    // The one waiting thread: returns once rung since it last returned, or
    // after timeoutMs.
    void wait(int timeoutMs);

private:
    WakeWord word{};
    uint32_t seen = 0;  // the waiter's
    SpinBudget spin;    // the waiter's
};

}  // namespace bridge
