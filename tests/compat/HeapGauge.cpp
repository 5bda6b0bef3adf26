#include "HeapGauge.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <new>

namespace compat {

HeapGauge::HeapGauge() {
    char pattern[] = "/tmp/corvel-heap-gauge-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) return;
    filePath = pattern;
    if (ftruncate(fd, sizeof(HeapGaugeCounters)) == 0) {
        void* shared = mmap(nullptr, sizeof(HeapGaugeCounters), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (shared != MAP_FAILED) counters = new (shared) HeapGaugeCounters;
    }
    close(fd);
}

HeapGauge::~HeapGauge() {
    if (counters) munmap(counters, sizeof(HeapGaugeCounters));
    if (!filePath.empty()) unlink(filePath.c_str());
}

int64_t HeapGauge::bytesInUse() const {
    return counters ? counters->bytesInUse.load() : 0;
}

}  // namespace compat
