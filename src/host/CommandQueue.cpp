#include "host/CommandQueue.h"

#include <algorithm>
#include <chrono>

CommandQueue::CommandQueue() : worker([this] { run(); }) {}

CommandQueue::~CommandQueue() {
    finish(nullptr, -1, nullptr);
}

void CommandQueue::post(Task task) {
    std::lock_guard<std::mutex> lock(mutex);
    if (ending) return;
    entries.push_back({std::move(task), nullptr});
    changed.notify_all();
}

void CommandQueue::postFirst(Task task) {
    std::lock_guard<std::mutex> lock(mutex);
    if (ending) return;
    entries.push_front({std::move(task), nullptr});
    changed.notify_all();
}

bool CommandQueue::runAndWait(Task task) {
    auto call = std::make_shared<Call>();
    std::unique_lock<std::mutex> lock(mutex);
    if (ending) return false;
    entries.push_back({std::move(task), call});
    changed.notify_all();
    changed.wait(lock, [&] { return call->done || call->dropped; });
    return call->done;
}

void CommandQueue::run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [&] { return !entries.empty() || ending; });
        if (entries.empty()) return;
        Entry next = std::move(entries.front());
        entries.pop_front();
        busy = true;
        lock.unlock();
        next.task();
        lock.lock();
        busy = false;
        if (next.call) next.call->done = true;
        changed.notify_all();
    }
}

void CommandQueue::hurry(int graceMs) {
    std::lock_guard<std::mutex> lock(mutex);
    const auto by = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    if (!hurriedBy || by < *hurriedBy) hurriedBy = by;
    changed.notify_all();
}

void CommandQueue::finish(Task last, int graceMs, const Task& overdue) {
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!worker.joinable()) return;
        for (Entry& entry : entries)
            if (entry.call) entry.call->dropped = true;
        entries.clear();
        if (last) entries.push_back({std::move(last), nullptr});
        ending = true;
        changed.notify_all();
        const auto idle = [&] { return entries.empty() && !busy; };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
        // hurry() may bring the deadline forward while this waits.
        while (graceMs >= 0 && !idle()) {
            const auto until = hurriedBy ? std::min(deadline, *hurriedBy) : deadline;
            if (std::chrono::steady_clock::now() >= until) {
                lock.unlock();
                if (overdue) overdue();
                break;
            }
            changed.wait_until(lock, until);
        }
    }
    worker.join();
}
