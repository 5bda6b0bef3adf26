// The Linux GUI thread: a queue of tasks, drained by the main thread, which
// also serves the editor windows' X events and idle calls.
#pragma once

#include <deque>
#include <mutex>
#include <thread>

#include "shell/GuiThread.h"

class VST2Host;

class GuiLoop final : public GuiThread {
public:
    GuiLoop();
    ~GuiLoop();
    GuiLoop(const GuiLoop&) = delete;
    GuiLoop& operator=(const GuiLoop&) = delete;

    bool post(Task task) override;
    bool isCurrent() const override;
    void quit() override;
    // Async-signal-safe: ends the loop as "quit" does.
    void quitFromSignal();
    // Runs until "quit", SIGINT or SIGTERM, idling the host's open editors.
    void run(VST2Host& host);

private:
    void wake(char reason);
    bool drainQueue();  // false when the loop must end

    std::thread::id thread;
    std::mutex queueMutex;
    std::deque<Task> queue;
    bool ended = false;
    bool quitRequested = false;  // GUI thread only
    int wakePipe[2] = {-1, -1};
};
