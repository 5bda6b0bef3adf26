#include "CounterFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

CounterFile::~CounterFile() {
    if (counters) munmap(const_cast<BenchCounters*>(counters), sizeof(BenchCounters));
}

bool CounterFile::open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    struct stat status {};
    if (fstat(fd, &status) == 0 && status.st_size >= static_cast<off_t>(sizeof(BenchCounters))) {
        void* mapped = mmap(nullptr, sizeof(BenchCounters), PROT_READ, MAP_SHARED, fd, 0);
        if (mapped != MAP_FAILED) counters = static_cast<const BenchCounters*>(mapped);
    }
    close(fd);
    return counters != nullptr;
}

uint64_t CounterFile::newCalls() const {
    return counters ? counters->newCalls.load(std::memory_order_relaxed) : 0;
}

uint64_t CounterFile::mallocCalls() const {
    return counters ? counters->mallocCalls.load(std::memory_order_relaxed) : 0;
}
