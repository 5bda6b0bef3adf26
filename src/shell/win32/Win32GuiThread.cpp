#include "shell/win32/Win32GuiThread.h"

#include <memory>

#include "shell/EditorIdler.h"

namespace {

constexpr UINT idleIntervalMs = 33;  // about 30 editor idle calls a second

}  // namespace

Win32GuiThread::Win32GuiThread(HWND mainWindow)
    : window(mainWindow), threadId(GetCurrentThreadId()) {}

Win32GuiThread::~Win32GuiThread() {
    if (idling) KillTimer(window, reinterpret_cast<UINT_PTR>(this));
}

void Win32GuiThread::runPosted(LPARAM message) {
    std::unique_ptr<GuiTask> task(reinterpret_cast<GuiTask*>(message));
    if (!task) return;
    if (task->run) task->run();
    // Editors open only in tasks (a load, a showGui, a relaunch's restore).
    task->thread->watchForEditors();
}

bool Win32GuiThread::post(Task task) {
    auto message = std::make_unique<GuiTask>(GuiTask{std::move(task), this});
    if (!PostMessageW(window, WM_GUI_TASK, 0, reinterpret_cast<LPARAM>(message.get())))
        return false;
    message.release();  // the window procedure owns it now
    return true;
}

bool Win32GuiThread::isCurrent() const {
    return GetCurrentThreadId() == threadId;
}

void Win32GuiThread::quit() {
    // Behind every task already posted, as the client sent them.
    PostMessageW(window, WM_QUIT_HOST, 0, 0);
}

void Win32GuiThread::idleEditorsOf(EditorIdler* next) {
    idler = next;
    watchForEditors();
}

void Win32GuiThread::watchForEditors() {
    if (idling || !idler || !idler->hasOpenEditor()) return;
    // A timer rather than the loop's own wait: modal loops (a frame being
    // dragged, a menu, a plug-in's dialog) dispatch WM_TIMER too, so editors
    // keep being idled through them. Its id is this object, which the
    // callback is handed back.
    idling = SetTimer(window, reinterpret_cast<UINT_PTR>(this), idleIntervalMs, onIdleTimer) != 0;
}

void CALLBACK Win32GuiThread::onIdleTimer(HWND, UINT, UINT_PTR timer, DWORD) {
    auto* self = reinterpret_cast<Win32GuiThread*>(timer);
    if (self->idler && self->idler->hasOpenEditor()) {
        self->idler->idleEditors();
        return;
    }
    // No editor left: no wake-ups until a task opens one.
    KillTimer(self->window, timer);
    self->idling = false;
}
