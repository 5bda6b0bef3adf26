// Allocation counters that the benchmark builds of the servers keep in a file
// shared with the client, which reads them around each run of blocks.
#pragma once

#include <atomic>
#include <cstdint>

struct BenchCounters {
    std::atomic<uint64_t> newCalls{0};     // operator new and new[], every thread
    std::atomic<uint64_t> mallocCalls{0};  // the malloc family: C++, the library, libc
};

static_assert(std::atomic<uint64_t>::is_always_lock_free,
              "the counters are shared between processes");

// Names the counter file; unset, the counts stay inside the process.
constexpr const char* benchCountersVariable = "CORVEL_BENCH_COUNTERS";
