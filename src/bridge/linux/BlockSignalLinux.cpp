// Futexes on a shared mapping: the kernel keys them by the page, so both
// processes meet on the same word.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <ctime>

#include "bridge/BlockSignal.h"

namespace bridge {

namespace {

uint32_t* address(WakeWord& word) {
    return reinterpret_cast<uint32_t*>(&word.value);
}

}  // namespace

void wakeWaiters(WakeWord& word) {
    syscall(SYS_futex, address(word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

void sleepWhileEqual(WakeWord& word, uint32_t seen, int timeoutMs) {
    timespec timeout{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
    syscall(SYS_futex, address(word), FUTEX_WAIT, seen, &timeout, nullptr, 0);
}

}  // namespace bridge
