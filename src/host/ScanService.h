// The folder walks that sessions ask for, one at a time on a thread of its
// own, so a long walk holds no connection's thread and no session's place:
// 64 clients that each asked to walk "/" used to keep every place for over
// a minute. Sessions that ask for the same folder while its walk waits or
// runs share that walk, and a walk whose askers have all gone is abandoned.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScanService {
public:
    // Runs on the scan thread with the complete reply.
    using Reply = std::function<void(const std::string& reply)>;

    ScanService();
    ~ScanService() { stop(); }
    ScanService(const ScanService&) = delete;
    ScanService& operator=(const ScanService&) = delete;

    // Any thread. Queues a walk of the default folders and extraFolder, or
    // joins one of the same folder; the ticket withdraws it. No reply once
    // the service has stopped.
    uint64_t request(const std::string& extraFolder, Reply reply);
    // Any thread: the asker has gone. Its reply is not sent if it has not
    // begun; a walk left without askers stops at its next folder entry.
    void withdraw(uint64_t ticket);
    // Abandons every walk and ends the thread.
    void stop();

private:
    struct Asker {
        uint64_t ticket;
        Reply reply;
    };
    struct Walk {
        std::string folder;
        std::vector<Asker> askers;
    };

    void run();
    static bool removeAsker(Walk& walk, uint64_t ticket);

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Walk> waiting;
    Walk current;  // its askers; empty when none is running
    bool walking = false;
    std::atomic<bool> abandoned{false};  // for the current walk
    bool stopping = false;
    uint64_t nextTicket = 1;
    std::thread worker;  // last: started once the members it uses exist
};
