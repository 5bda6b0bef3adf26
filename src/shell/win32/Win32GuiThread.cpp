#include "shell/win32/Win32GuiThread.h"

#include <memory>

Win32GuiThread::Win32GuiThread(HWND mainWindow)
    : window(mainWindow), threadId(GetCurrentThreadId()) {}

void Win32GuiThread::runPosted(LPARAM message) {
    std::unique_ptr<GuiTask> task(reinterpret_cast<GuiTask*>(message));
    if (task && task->run) task->run();
}

bool Win32GuiThread::post(Task task) {
    auto message = std::make_unique<GuiTask>(GuiTask{std::move(task)});
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
