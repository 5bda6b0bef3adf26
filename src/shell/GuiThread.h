// The bridge to the GUI thread, where plug-ins are loaded, their state is
// taken and their editors live. Implemented once per platform.
#pragma once

#include <functional>

class GuiThread {
public:
    using Task = std::function<void()>;

    // Any thread: queues the task and returns. False once shutdown has begun
    // (the task is then dropped without running).
    virtual bool post(Task task) = 0;
    // Any thread but the GUI thread: runs the task there and waits for it.
    // False when it did not run because shutdown began first.
    virtual bool runAndWait(Task task) = 0;
    virtual bool isCurrent() const = 0;

protected:
    ~GuiThread() = default;
};
