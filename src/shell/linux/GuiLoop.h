// The Linux GUI thread: a queue of user messages, drained by the main
// thread, which also serves the editor windows' X events and idle calls.
#pragma once

#include <deque>
#include <mutex>
#include <utility>

class GuiLoop {
public:
    GuiLoop();
    ~GuiLoop();
    GuiLoop(const GuiLoop&) = delete;
    GuiLoop& operator=(const GuiLoop&) = delete;

    // Any thread. False once the loop has ended.
    bool post(unsigned message, void* payload);
    // Async-signal-safe: ends the loop as "quit" does.
    void quitFromSignal();
    // Runs until "quit", SIGINT or SIGTERM.
    void run();

    static GuiLoop* current;

private:
    bool drainQueue();  // false when the loop must end
    int waitTimeoutMs() const;

    std::mutex queueMutex;
    std::deque<std::pair<unsigned, void*>> queue;
    bool ended = false;
    int wakePipe[2] = {-1, -1};
    long long nextIdleMs = 0;
};
