// A thread of its own that runs tasks one after another, so a slow or stuck
// plug-in process holds up nobody but its own session.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class CommandQueue {
public:
    using Task = std::function<void()>;

    CommandQueue();
    ~CommandQueue();
    CommandQueue(const CommandQueue&) = delete;
    CommandQueue& operator=(const CommandQueue&) = delete;

    void post(Task task);
    // Runs before everything queued.
    void postFirst(Task task);
    // Runs the task in turn and waits for it; false when it was dropped.
    bool runAndWait(Task task);
    // Drops what is queued, runs last, and ends the thread. When that takes
    // longer than graceMs, overdue runs (on the caller's thread) to hurry it.
    void finish(Task last, int graceMs, const Task& overdue);
    // Any thread: the program is ending. A finish running or to come waits
    // at most graceMs from now before its overdue runs.
    void hurry(int graceMs);

private:
    struct Call {
        bool done = false;
        bool dropped = false;
    };
    struct Entry {
        Task task;
        std::shared_ptr<Call> call;
    };

    void run();

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Entry> entries;
    bool busy = false;
    bool ending = false;
    std::optional<std::chrono::steady_clock::time_point> hurriedBy;
    std::thread worker;
};
