// Preloaded into the program under test (LD_PRELOAD): stands in for the
// allocator's entry points, forwards to the C library's and keeps the bytes
// in use in the file named by CORVEL_HEAP_GAUGE. The program itself is the
// shipped one, unchanged.
#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "HeapGauge.h"
#include "LibcAllocator.h"

namespace {

using compat::HeapGaugeCounters;

// What happens before the file is mapped is counted here and not reported.
HeapGaugeCounters startup;
HeapGaugeCounters* counters = &startup;

__attribute__((constructor(101))) void mapGauge() {
    const char* path = std::getenv(compat::heapGaugeVariable);
    if (!path || !*path) return;
    const int fd = open(path, O_RDWR);
    if (fd < 0) return;
    void* shared = mmap(nullptr, sizeof(HeapGaugeCounters), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (shared != MAP_FAILED) counters = static_cast<HeapGaugeCounters*>(shared);
    close(fd);
}

void* counted(void* block) {
    if (block) counters->bytesInUse.fetch_add(static_cast<int64_t>(malloc_usable_size(block)),
                                              std::memory_order_relaxed);
    return block;
}

void uncount(void* block) {
    if (block) counters->bytesInUse.fetch_sub(static_cast<int64_t>(malloc_usable_size(block)),
                                              std::memory_order_relaxed);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void* malloc(size_t size) {
    return counted(__libc_malloc(size));
}

__attribute__((visibility("default"))) void free(void* block) {
    uncount(block);
    __libc_free(block);
}

__attribute__((visibility("default"))) void* calloc(size_t count, size_t size) {
    return counted(__libc_calloc(count, size));
}

__attribute__((visibility("default"))) void* realloc(void* block, size_t size) {
    const size_t before = block ? malloc_usable_size(block) : 0;
    void* moved = __libc_realloc(block, size);
    if (moved || size == 0) {
        counters->bytesInUse.fetch_sub(static_cast<int64_t>(before), std::memory_order_relaxed);
        counted(moved);
    }
    return moved;
}

__attribute__((visibility("default"))) void* memalign(size_t alignment, size_t size) {
    return counted(__libc_memalign(alignment, size));
}

__attribute__((visibility("default"))) void* aligned_alloc(size_t alignment, size_t size) {
    return counted(__libc_memalign(alignment, size));
}

__attribute__((visibility("default"))) int posix_memalign(void** result, size_t alignment, size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* block = counted(__libc_memalign(alignment, size));
    if (!block && size) return ENOMEM;
    *result = block;
    return 0;
}

__attribute__((visibility("default"))) void* valloc(size_t size) {
    return counted(__libc_memalign(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size));
}

}  // extern "C"
