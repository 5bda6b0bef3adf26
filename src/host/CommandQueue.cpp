#include "host/CommandQueue.h"

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
        if (graceMs >= 0 && !changed.wait_for(lock, std::chrono::milliseconds(graceMs), idle)) {
            lock.unlock();
            if (overdue) overdue();
        }
    }
    worker.join();
}
