#include "host/Teardowns.h"

#include <algorithm>

void Teardowns::start(std::function<void()> teardown, std::function<void()> hurry) {
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([teardown = std::move(teardown), finished] {
        teardown();
        finished->store(true);
    });
    std::vector<Running> done;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto firstDone = std::stable_partition(
            running.begin(), running.end(), [](const Running& r) { return !r.finished->load(); });
        std::move(firstDone, running.end(), std::back_inserter(done));
        running.erase(firstDone, running.end());
        if (hurried) hurry();
        running.push_back({std::move(thread), std::move(finished), std::move(hurry)});
    }
    for (Running& each : done) each.thread.join();
}

void Teardowns::hurryAll() {
    std::lock_guard<std::mutex> lock(mutex);
    hurried = true;
    for (Running& each : running) each.hurry();
}

void Teardowns::waitAll() {
    for (;;) {
        std::vector<Running> all;
        {
            std::lock_guard<std::mutex> lock(mutex);
            all.swap(running);
        }
        if (all.empty()) return;
        for (Running& each : all) each.thread.join();
    }
}
