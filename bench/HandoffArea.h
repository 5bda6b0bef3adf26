// The hand-off floor's shared memory and its one way of handing off: a word
// counted up by one process and copied back by another, each side waking
// the other with a futex and sleeping on its own word, no spinning. Linux
// futexes on a shared mapping, as the program's plug-in process uses, but
// none of its code: the floor must not move when the program does.
//
// corvel-bench-handoff times batches of hand-offs when the client asks
// through the same memory (a file); corvel-bench-tcp-echo --handoff makes
// one per message it echoes.
#pragma once

#include <linux/futex.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <ctime>

// Hand-offs per batch; a turn of more is asked in several batches.
constexpr uint32_t maxHandoffsPerBatch = 4096;

struct HandoffArea {
    // Client and floor: the client counts `asked` up after setting `count`;
    // the floor copies it into `answered` once samplesNs holds the batch.
    alignas(64) std::atomic<uint32_t> asked;
    alignas(64) std::atomic<uint32_t> answered;
    uint32_t count;
    // The floor's two processes: one counts `request` up, the other copies
    // it into `reply`. Apart, so that neither word's line bounces.
    alignas(64) std::atomic<uint32_t> request;
    alignas(64) std::atomic<uint32_t> reply;
    alignas(64) int64_t samplesNs[maxHandoffsPerBatch];
};

static_assert(std::atomic<uint32_t>::is_always_lock_free, "the words live in shared memory");

// Wakes every waiter on word, in any process that maps it.
inline void handoffWake(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE, INT32_MAX, nullptr, nullptr,
            0);
}

// Sleeps while word holds seen, at most timeoutMs (may return early).
inline void handoffSleep(std::atomic<uint32_t>& word, uint32_t seen, int timeoutMs) {
    timespec timeout{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT, seen, &timeout, nullptr, 0);
}

// The second process's side, forever: copies every new request into reply.
[[noreturn]] inline void answerHandoffs(HandoffArea& area) {
    uint32_t seen = area.request.load(std::memory_order_acquire);
    for (;;) {
        const uint32_t now = area.request.load(std::memory_order_acquire);
        if (now == seen) {
            handoffSleep(area.request, seen, 1000);
            continue;
        }
        seen = now;
        area.reply.store(now, std::memory_order_release);
        handoffWake(area.reply);
    }
}

// The first process's side: one hand-off there and back.
inline void handOff(HandoffArea& area) {
    const uint32_t ticket = area.request.load(std::memory_order_relaxed) + 1;
    area.request.store(ticket, std::memory_order_release);
    handoffWake(area.request);
    for (uint32_t now; (now = area.reply.load(std::memory_order_acquire)) != ticket;)
        handoffSleep(area.reply, now, 1000);
}

// Forks the second process, which answers hand-offs through area (a shared
// mapping) until this process ends. -1 when it cannot be started.
inline pid_t startHandoffPartner(HandoffArea& area) {
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child != 0) return child;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(0);
    answerHandoffs(area);
}

// Moves the partner onto this thread's cores: wherever the benchmark puts a
// floor, both ends of its hand-off are there, as the program and its
// plug-in process are.
inline void keepPartnerBeside(pid_t partner) {
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) == 0)
        sched_setaffinity(partner, sizeof cores, &cores);
}
