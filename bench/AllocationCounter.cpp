// Counts every heap allocation of the process it is linked into by standing
// in for the allocator's entry points and forwarding to the C library's.
// Linked only into benchmark builds.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "BenchCounters.h"
#include "LibcAllocator.h"

namespace {

// Counts before the file is mapped (start-up) land here and are not reported.
BenchCounters startupCounters;
BenchCounters* counters = &startupCounters;

// Before any other constructor, so that everything the program allocates
// once running is counted in the file.
__attribute__((constructor(101))) void mapCounterFile() {
    const char* path = std::getenv(benchCountersVariable);
    if (!path || !*path) return;
    const int fd = open(path, O_RDWR | O_CREAT, 0600);
    if (fd < 0) return;
    if (ftruncate(fd, sizeof(BenchCounters)) == 0) {
        void* shared =
            mmap(nullptr, sizeof(BenchCounters), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        // Not constructed: a new file reads as zeros, and a plug-in process
        // maps the file its program made and adds to the same counts.
        if (shared != MAP_FAILED) counters = static_cast<BenchCounters*>(shared);
    }
    close(fd);
}

void countMalloc() {
    counters->mallocCalls.fetch_add(1, std::memory_order_relaxed);
}

void* allocateForNew(size_t size) {
    counters->newCalls.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}

}  // namespace

extern "C" {

void* malloc(size_t size) {
    countMalloc();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    countMalloc();
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) {
    countMalloc();
    return __libc_realloc(block, size);
}

void free(void* block) {
    __libc_free(block);
}

void* memalign(size_t alignment, size_t size) {
    countMalloc();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    countMalloc();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    countMalloc();
    void* block = __libc_memalign(alignment, size);
    if (!block) return ENOMEM;
    *result = block;
    return 0;
}

}  // extern "C"

void* operator new(size_t size) {
    if (void* block = allocateForNew(size)) return block;
    throw std::bad_alloc();
}

void* operator new[](size_t size) {
    if (void* block = allocateForNew(size)) return block;
    throw std::bad_alloc();
}

void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return allocateForNew(size);
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return allocateForNew(size);
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete[](void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, size_t) noexcept {
    std::free(block);
}

void operator delete[](void* block, size_t) noexcept {
    std::free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
