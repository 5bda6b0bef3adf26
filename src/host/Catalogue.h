// The plug-in catalogue: every plug-in under the plug-in folders with what
// it says about itself, read in plug-in processes (corvel-plugin-host
// --probe), so a module that crashes or hangs costs only that process. As
// many probes run at once as the machine has cores, each for at most
// probeLimit; what they read is kept in a cache file (CatalogueCache), so a
// rescan reads only new and changed modules.
//
// Threads: request, withdraw and stop on any thread; one catalogue thread
// runs one scan at a time and calls every asker's progress and reply; each
// scan starts probe threads of its own and joins them before its reply.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/CatalogueCache.h"
#include "host/CatalogueEntry.h"

class Catalogue {
public:
    // done modules of total are known (from the cache or read); path is the
    // one just read, empty in the first call of a scan, which comes once
    // the folders are walked.
    using Progress =
        std::function<void(std::size_t done, std::size_t total, const std::string& path)>;
    // Every entry, modules in path order, a shell's plug-ins in its order.
    using Reply = std::function<void(const std::vector<CatalogueEntry>& entries)>;

    struct Options {
        std::filesystem::path cacheFile;  // empty: kept in memory only
        unsigned probes = 0;              // at once; 0: one per core
        std::chrono::milliseconds probeLimit{10000};
    };

    // The cache in catalogueCacheLocation(), one probe per core, 10 s each.
    Catalogue();
    explicit Catalogue(const Options& options);
    ~Catalogue() { stop(); }
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;

    // Any thread. Queues a catalogue of the default folders and extraFolder
    // (empty for none), or joins one of the same folders that waits or
    // runs, from its next progress on; the ticket withdraws it. A rescan
    // reads every module again, whatever the cache holds: it joins only a
    // running rescan, and makes a waiting scan one. Nothing is called once
    // the service has stopped (the ticket is then 0).
    uint64_t request(const std::string& extraFolder, Progress progress, Reply reply,
                     bool rescan = false);
    // Any thread: the asker has gone. Nothing more is called for it, apart
    // from a call that had already begun. A scan left without askers starts
    // no more probes; those running finish and are cached.
    void withdraw(uint64_t ticket);
    // Any thread but the catalogue thread: kills the running probes, drops
    // every request and ends the thread.
    void stop();

private:
    struct Asker {
        uint64_t ticket;
        Progress progress;
        Reply reply;
    };
    struct Scan {
        std::string folder;
        bool rescan = false;
        std::vector<Asker> askers;
    };
    // A module read by a probe, on its way to the catalogue thread.
    struct Read {
        std::size_t module;
        std::vector<CatalogueEntry> entries;
        bool keep;  // false: a failure of ours (no process), not the module's
    };

    void run();
    std::vector<CatalogueEntry> catalogue(const std::string& folder, bool rescan);
    // Probe thread: one module in a plug-in process.
    Read readModule(std::size_t module, const std::string& path);
    void reportProgress(std::size_t done, std::size_t total, const std::string& path);
    static bool removeAsker(Scan& scan, uint64_t ticket);

    const Options options;
    CatalogueCache cache;  // catalogue thread

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Scan> waiting;
    Scan current;  // its askers; empty when none runs
    bool scanning = false;
    std::atomic<bool> abandoned{false};  // the current scan: start no more probes
    std::atomic<bool> stopping{false};   // kill the running probes too
    uint64_t nextTicket = 1;

    std::thread worker;  // last: started once the members it uses exist
};
