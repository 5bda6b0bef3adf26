#include "host/ScanService.h"

#include <algorithm>

#include "scan/PluginScan.h"

ScanService::ScanService() : worker([this] { run(); }) {}

uint64_t ScanService::request(const std::string& extraFolder, Reply reply) {
    std::lock_guard<std::mutex> lock(mutex);
    if (stopping) return 0;
    const uint64_t ticket = nextTicket++;
    Asker asker{ticket, std::move(reply)};
    // Joining the running walk is safe: its reply does not depend on when
    // an asker came, only on the folders.
    if (walking && current.folder == extraFolder && !abandoned) {
        current.askers.push_back(std::move(asker));
        return ticket;
    }
    const auto same = std::find_if(waiting.begin(), waiting.end(),
                                   [&](const Walk& walk) { return walk.folder == extraFolder; });
    if (same != waiting.end()) {
        same->askers.push_back(std::move(asker));
    } else {
        waiting.push_back({extraFolder, {}});
        waiting.back().askers.push_back(std::move(asker));
    }
    changed.notify_all();
    return ticket;
}

bool ScanService::removeAsker(Walk& walk, uint64_t ticket) {
    const auto before = walk.askers.size();
    walk.askers.erase(std::remove_if(walk.askers.begin(), walk.askers.end(),
                                     [&](const Asker& asker) { return asker.ticket == ticket; }),
                      walk.askers.end());
    return walk.askers.size() != before;
}

void ScanService::withdraw(uint64_t ticket) {
    std::lock_guard<std::mutex> lock(mutex);
    if (walking && removeAsker(current, ticket)) {
        if (current.askers.empty()) abandoned = true;
        return;
    }
    for (auto walk = waiting.begin(); walk != waiting.end(); ++walk) {
        if (!removeAsker(*walk, ticket)) continue;
        if (walk->askers.empty()) waiting.erase(walk);
        return;
    }
}

void ScanService::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        waiting.clear();
        abandoned = true;
        changed.notify_all();
    }
    if (worker.joinable()) worker.join();
}

void ScanService::run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [&] { return stopping || !waiting.empty(); });
        if (stopping) return;
        current = std::move(waiting.front());
        waiting.pop_front();
        walking = true;
        abandoned = false;
        lock.unlock();
        const std::string folder = current.folder;
        const std::string reply = scanReply(folder, abandoned);
        lock.lock();
        walking = false;
        if (abandoned) continue;
        std::vector<Asker> askers = std::move(current.askers);
        lock.unlock();
        for (const Asker& asker : askers) asker.reply(reply);
        lock.lock();
    }
}
