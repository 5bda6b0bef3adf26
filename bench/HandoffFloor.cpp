// The floor under any plug-in process: one hand-off there and back between
// two processes (HandoffArea.h). A block sent to a plug-in process cannot
// cost less than this on top of its round trip.
//
//   corvel-bench-handoff <file>
//
// Creates <file> (a HandoffArea; it appears whole, under its name, once the
// floor is ready) and times batches of hand-offs whenever the client asks.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "HandoffArea.h"

namespace {

using Clock = std::chrono::steady_clock;

void timeBatch(HandoffArea& area, pid_t partner) {
    keepPartnerBeside(partner);
    const uint32_t count = area.count < maxHandoffsPerBatch ? area.count : maxHandoffsPerBatch;
    for (uint32_t i = 0; i < count; ++i) {
        const Clock::time_point start = Clock::now();
        handOff(area);
        area.samplesNs[i] = (Clock::now() - start).count();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <file>\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const std::string partial = path + ".partial";
    const int fd = open(partial.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ftruncate(fd, sizeof(HandoffArea)) != 0) {
        std::perror("cannot create the hand-off file");
        return 1;
    }
    void* memory = mmap(nullptr, sizeof(HandoffArea), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (memory == MAP_FAILED) {
        std::perror("cannot map the hand-off file");
        return 1;
    }
    auto& area = *static_cast<HandoffArea*>(memory);

    const pid_t partner = startHandoffPartner(area);
    if (partner < 0) {
        std::perror("fork");
        return 1;
    }
    if (rename(partial.c_str(), path.c_str()) != 0) {
        std::perror("cannot name the hand-off file");
        kill(partner, SIGKILL);
        return 1;
    }
    std::printf("hand-off floor in %s\n", path.c_str());
    std::fflush(stdout);

    uint32_t seen = area.asked.load(std::memory_order_acquire);
    for (;;) {
        const uint32_t now = area.asked.load(std::memory_order_acquire);
        if (now == seen) {
            handoffSleep(area.asked, seen, 1000);
            continue;
        }
        seen = now;
        timeBatch(area, partner);
        area.answered.store(now, std::memory_order_release);
        handoffWake(area.answered);
    }
}
