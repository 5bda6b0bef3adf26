// The Windows GUI thread: tasks travel as posted messages to the hidden
// main window, whose thread runs the message loop.
#pragma once

#include <windows.h>

#include "shell/GuiThread.h"

// The user messages of the main window. The plug-in's life cycle travels as
// tasks (WM_GUI_TASK), so 1025 to 1029 are unused.
enum GuiMessage : UINT {
    WM_TRAY_ICON = 1030,
    WM_QUIT_HOST = 1031,
    WM_GUI_TASK = 1032,  // lParam: a GuiTask the window procedure runs and deletes
};

struct GuiTask {
    GuiThread::Task run;
};

class Win32GuiThread final : public GuiThread {
public:
    // Called on the thread that runs the message loop, once the window exists.
    explicit Win32GuiThread(HWND mainWindow);

    // The window procedure's part: runs and deletes the task of a WM_GUI_TASK.
    static void runPosted(LPARAM message);

    bool post(Task task) override;
    bool isCurrent() const override;
    void quit() override;

private:
    HWND window;
    DWORD threadId;
};
