#include "shell/linux/GuiLoop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "host/VST2Host.h"
#include "shell/EditorWindows.h"
#include "shell/GuiDispatch.h"
#include "shell/linux/X11EditorWindows.h"

GuiLoop* GuiLoop::current = nullptr;

namespace {

std::thread::id guiThread;
constexpr long long idleIntervalMs = 33;  // about 30 editor idle calls a second
constexpr char wakeMessage = 'm';
constexpr char wakeQuit = 'q';

long long nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

bool isGuiThread() {
    return std::this_thread::get_id() == guiThread;
}

bool postGuiMessage(unsigned message, void* payload) {
    return GuiLoop::current && GuiLoop::current->post(message, payload);
}

GuiLoop::GuiLoop() {
    guiThread = std::this_thread::get_id();
    if (pipe(wakePipe) == 0) {
        for (int fd : wakePipe) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        for (int fd : wakePipe) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    current = this;
}

GuiLoop::~GuiLoop() {
    current = nullptr;
    for (int fd : wakePipe) if (fd >= 0) close(fd);
}

bool GuiLoop::post(unsigned message, void* payload) {
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (ended) return false;
        queue.emplace_back(message, payload);
    }
    const char wake = wakeMessage;
    [[maybe_unused]] ssize_t written = write(wakePipe[1], &wake, 1);
    return true;
}

void GuiLoop::quitFromSignal() {
    const char wake = wakeQuit;
    [[maybe_unused]] ssize_t written = write(wakePipe[1], &wake, 1);
}

int GuiLoop::waitTimeoutMs() const {
    if (!hostInstance || !hostInstance->hasOpenEditor()) return -1;
    const long long left = nextIdleMs - nowMs();
    return left < 0 ? 0 : static_cast<int>(left);
}

bool GuiLoop::drainQueue() {
    for (;;) {
        std::pair<unsigned, void*> next;
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            if (queue.empty()) return true;
            next = queue.front();
            queue.pop_front();
            if (next.first == WM_QUIT_HOST) {
                ended = true;
                return false;
            }
        }
        handleGuiMessage(next.first, next.second);
    }
}

void GuiLoop::run() {
    nextIdleMs = nowMs() + idleIntervalMs;
    for (;;) {
        pollfd watched[2] = {{wakePipe[0], POLLIN, 0}, {editorDisplayFd(), POLLIN, 0}};
        const nfds_t count = watched[1].fd >= 0 ? 2 : 1;
        poll(watched, count, waitTimeoutMs());

        char wake[64];
        bool quit = false;
        for (ssize_t n; (n = read(wakePipe[0], wake, sizeof wake)) > 0;)
            for (ssize_t i = 0; i < n; ++i) quit = quit || wake[i] == wakeQuit;
        if (quit) {
            std::lock_guard<std::mutex> lock(queueMutex);
            ended = true;
            break;
        }
        pumpEditorEvents();
        if (!drainQueue()) break;
        if (hostInstance && hostInstance->hasOpenEditor() && nowMs() >= nextIdleMs) {
            hostInstance->idleEditor();
            nextIdleMs = nowMs() + idleIntervalMs;
        } else if (!hostInstance || !hostInstance->hasOpenEditor()) {
            nextIdleMs = nowMs() + idleIntervalMs;
        }
    }
    // Requests that never ran still own their payloads; nothing waits on them.
    std::lock_guard<std::mutex> lock(queueMutex);
    for (auto& [message, payload] : queue) {
        if (message == WM_LOAD_PLUGIN) delete static_cast<std::string*>(payload);
        if (message == WM_RESIZE_EDITOR) delete static_cast<EditorResizeRequest*>(payload);
    }
    queue.clear();
}
