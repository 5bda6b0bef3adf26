#include "HandoffClient.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

HandoffClient::~HandoffClient() {
    if (area) munmap(area, sizeof(HandoffArea));
}

bool HandoffClient::open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0) return false;
    struct stat status {};
    if (fstat(fd, &status) == 0 && status.st_size >= static_cast<off_t>(sizeof(HandoffArea))) {
        void* mapped =
            mmap(nullptr, sizeof(HandoffArea), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (mapped != MAP_FAILED) area = static_cast<HandoffArea*>(mapped);
    }
    close(fd);
    return area != nullptr;
}

bool HandoffClient::run(int count, std::vector<int64_t>* into) {
    while (count > 0) {
        const uint32_t batch = static_cast<uint32_t>(count) < maxHandoffsPerBatch
                                   ? static_cast<uint32_t>(count)
                                   : maxHandoffsPerBatch;
        area->count = batch;
        const uint32_t ticket = area->asked.load(std::memory_order_relaxed) + 1;
        area->asked.store(ticket, std::memory_order_release);
        handoffWake(area->asked);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (uint32_t now; (now = area->answered.load(std::memory_order_acquire)) != ticket;) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            handoffSleep(area->answered, now, 100);
        }
        if (into) into->insert(into->end(), area->samplesNs, area->samplesNs + batch);
        count -= static_cast<int>(batch);
    }
    return true;
}
