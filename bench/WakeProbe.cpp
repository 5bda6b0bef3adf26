// How late the machine wakes a real-time thread. Two SCHED_FIFO threads,
// one pinned to each of the first two CPUs, sleep to absolute 1 ms
// deadlines; every wake-up more than 3 ms late is printed, and a summary
// per thread at the end. With nothing else running, what this sees is the
// machine's own stalls (a virtual machine's host, firmware), which no
// buffering inside a guest can hide.
// Usage: corvel-wake-probe [SECONDS]   (root, for real-time priority)

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

double milliseconds(const timespec& time) {
    return time.tv_sec * 1e3 + time.tv_nsec / 1e6;
}

void probe(int cpu, int seconds) {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(cpu, &cpus);
    pthread_setaffinity_np(pthread_self(), sizeof cpus, &cpus);
    sched_param priority{};
    priority.sched_priority = 90;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) != 0)
        std::fprintf(stderr, "cpu%d: no real-time priority; the numbers include the scheduler's\n",
                     cpu);
    timespec deadline{}, now{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const double start = milliseconds(deadline);
    long wakes = 0, overOne = 0;
    double worst = 0;
    for (;;) {
        deadline.tv_nsec += 1000000;
        if (deadline.tv_nsec >= 1000000000) {
            deadline.tv_nsec -= 1000000000;
            ++deadline.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double late = milliseconds(now) - milliseconds(deadline);
        ++wakes;
        if (late > 1) ++overOne;
        if (late > worst) worst = late;
        if (late > 3)
            std::printf("cpu%d at %.1f ms: %.1f ms late\n", cpu, milliseconds(now) - start, late);
        if (milliseconds(now) - start >= seconds * 1e3) break;
    }
    std::printf("cpu%d: %ld wake-ups, %ld more than 1 ms late, the worst %.1f ms late\n", cpu,
                wakes, overOne, worst);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    std::thread first(probe, 0, seconds), second(probe, 1, seconds);
    first.join();
    second.join();
}
