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
    // joined on the way. hurry shortens it, and is called at once once
    // hurryAll has been.
    void start(std::function<void()> teardown, std::function<void()> hurry);
    // Any thread: the program is ending; every teardown running or to come
    // is hurried.
    void hurryAll();
    // Returns once every teardown started so far, and any started meanwhile,
    // has finished.
    void waitAll();

private:
    struct Running {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
        std::function<void()> hurry;
    };

    std::mutex mutex;
    std::vector<Running> running;
    bool hurried = false;
};
