// The bridge to the GUI thread, where plug-ins are loaded, their state is
// taken and their editors live. Each platform queues tasks its own way.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

class GuiThread {
public:
    using Task = std::function<void()>;

    // Any thread: queues the task and returns. False once the loop has ended
    // (the task is then dropped without running).
    virtual bool post(Task task) = 0;
    virtual bool isCurrent() const = 0;
    // Any thread: ends the loop as the tray's "Exit" does.
    virtual void quit() = 0;

    // Any thread but the GUI thread: runs the task there and waits for it.
    // False when it did not run because shutdown began first.
    bool runAndWait(Task task);
    // Shutdown, on the GUI thread: wakes every waiting caller, refuses new ones.
    void releaseWaiters();

protected:
    ~GuiThread() = default;

private:
    std::mutex waitMutex;
    std::condition_variable waitDone;
    bool released = false;
};
