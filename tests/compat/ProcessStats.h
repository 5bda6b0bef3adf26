// What the program under test holds, read from /proc: memory, threads,
// descriptors and mapped files. Leaks show up here, not in replies.
#pragma once

#include <string>

namespace compat {

struct ProcessStats {
    long residentKiB = 0;
    long heapKiB = 0;  // from the heap gauge, where the caller has one
    int threads = 0;
    int descriptors = 0;
};

ProcessStats readProcessStats(long pid);

// Whether a file (a plug-in module) is mapped into the process.
bool isMapped(long pid, const std::string& path);

}  // namespace compat
