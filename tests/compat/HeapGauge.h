// The number of heap bytes in use in the program under test, kept by a
// small library preloaded into it (HeapGaugePreload.cpp) in a file that the
// runner maps. Unlike the resident size it shows a leak at once, however
// the allocator reuses freed pages.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace compat {

constexpr char heapGaugeVariable[] = "CORVEL_HEAP_GAUGE";

struct HeapGaugeCounters {
    std::atomic<int64_t> bytesInUse{0};
};

class HeapGauge {
public:
    HeapGauge();  // creates the file
    ~HeapGauge();
    HeapGauge(const HeapGauge&) = delete;
    HeapGauge& operator=(const HeapGauge&) = delete;

    const std::string& path() const { return filePath; }
    // Null when the program runs without the preloaded library.
    bool available() const { return counters != nullptr; }
    int64_t bytesInUse() const;

private:
    std::string filePath;
    HeapGaugeCounters* counters = nullptr;
};

}  // namespace compat
