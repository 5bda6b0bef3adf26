// Each closing session's plug-in is ended on a thread of its own, so one
// that takes its whole grace to go holds up nobody: sessions close in
// parallel, and never on the GUI thread, which the consent dialog needs.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class Teardowns {
public:
    Teardowns() = default;
    ~Teardowns() { waitAll(); }
    Teardowns(const Teardowns&) = delete;
    Teardowns& operator=(const Teardowns&) = delete;

    // Any thread. Starts teardown at once; threads that have finished are
    // joined on the way.
    void start(std::function<void()> teardown);
    // Returns once every teardown started so far, and any started meanwhile,
    // has finished.
    void waitAll();

private:
    struct Running {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    std::mutex mutex;
    std::vector<Running> running;
};
