// The client's read-only view of a server's allocation counters.
#pragma once

#include <cstdint>
#include <string>

#include "BenchCounters.h"

class CounterFile {
public:
    CounterFile() = default;
    ~CounterFile();
    CounterFile(const CounterFile&) = delete;
    CounterFile& operator=(const CounterFile&) = delete;

    // False when the file is missing or too short (the server is not a
    // benchmark build, or was started without the variable).
    bool open(const std::string& path);
    bool isOpen() const { return counters != nullptr; }
    uint64_t newCalls() const;
    uint64_t mallocCalls() const;

private:
    const BenchCounters* counters = nullptr;
};
