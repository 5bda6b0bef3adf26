#include "shell/GuiThread.h"

#include <memory>

namespace {

struct WaitedCall {
    bool done = false;
    bool abandoned = false;  // the caller stopped waiting: the task must not run
};

}  // namespace

bool GuiThread::runAndWait(Task task) {
    auto call = std::make_shared<WaitedCall>();
    std::unique_lock<std::mutex> lock(waitMutex);
    if (released) return false;
    // Tasks and the release both run on the GUI thread, so a caller is never
    // released while its task is running.
    const bool posted = post([this, call, task = std::move(task)] {
        {
            std::lock_guard<std::mutex> guard(waitMutex);
            if (call->abandoned) return;
        }
        task();
        std::lock_guard<std::mutex> guard(waitMutex);
        call->done = true;
        waitDone.notify_all();
    });
    if (!posted) return false;
    waitDone.wait(lock, [&] { return call->done || released; });
    call->abandoned = !call->done;
    return call->done;
}

void GuiThread::releaseWaiters() {
    std::lock_guard<std::mutex> lock(waitMutex);
    released = true;
    waitDone.notify_all();
}
