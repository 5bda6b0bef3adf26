#include "shell/linux/GuiLoop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "shell/EditorIdler.h"
#include "shell/linux/X11EditorWindows.h"

namespace {

constexpr long long idleIntervalMs = 33;  // about 30 editor idle calls a second
constexpr char wakeTask = 't';
constexpr char wakeQuit = 'q';

long long nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

GuiLoop::GuiLoop() : thread(std::this_thread::get_id()) {
    if (pipe(wakePipe) == 0) {
        for (int fd : wakePipe) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        for (int fd : wakePipe) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

GuiLoop::~GuiLoop() {
    for (int fd : wakePipe)
        if (fd >= 0) close(fd);
}

bool GuiLoop::isCurrent() const {
    return std::this_thread::get_id() == thread;
}

void GuiLoop::wake(char reason) {
    [[maybe_unused]] ssize_t written = write(wakePipe[1], &reason, 1);
}

bool GuiLoop::post(Task task) {
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (ended) return false;
        queue.push_back(std::move(task));
    }
    wake(wakeTask);
    return true;
}

void GuiLoop::quit() {
    // In the queue's order: what the client asked before "quit" still runs.
    post([this] { quitRequested = true; });
}

void GuiLoop::quitFromSignal() {
    wake(wakeQuit);
}

bool GuiLoop::drainQueue() {
    while (!quitRequested) {
        Task next;
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            if (queue.empty()) return true;
            next = std::move(queue.front());
            queue.pop_front();
        }
        next();
    }
    return false;
}

void GuiLoop::run(EditorIdler& host) {
    long long nextIdleMs = nowMs() + idleIntervalMs;
    for (;;) {
        int timeoutMs = -1;
        if (host.hasOpenEditor()) timeoutMs = static_cast<int>(std::max(0LL, nextIdleMs - nowMs()));
        pollfd watched[2] = {{wakePipe[0], POLLIN, 0}, {editorDisplayFd(), POLLIN, 0}};
        poll(watched, watched[1].fd >= 0 ? 2 : 1, timeoutMs);

        char wake[64];
        bool quitting = false;
        for (ssize_t n; (n = read(wakePipe[0], wake, sizeof wake)) > 0;)
            for (ssize_t i = 0; i < n; ++i) quitting = quitting || wake[i] == wakeQuit;
        if (quitting) break;
        pumpEditorEvents();
        if (!drainQueue()) break;
        if (!host.hasOpenEditor()) {
            nextIdleMs = nowMs() + idleIntervalMs;
        } else if (nowMs() >= nextIdleMs) {
            host.idleEditors();
            nextIdleMs = nowMs() + idleIntervalMs;
        }
    }
    // Tasks that never ran are dropped; nothing waits on them once the
    // host's shutdown has released the waiting callers.
    std::lock_guard<std::mutex> lock(queueMutex);
    ended = true;
    queue.clear();
}
