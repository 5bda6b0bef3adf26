// The Windows GUI thread: tasks travel as posted messages to the hidden
// main window, whose thread runs the message loop.
#pragma once

#include <windows.h>

#include "shell/GuiThread.h"

class EditorIdler;

// The user messages of the main window. The plug-in's life cycle travels as
// tasks (WM_GUI_TASK), so 1025 to 1029 are unused.
enum GuiMessage : UINT {
    WM_TRAY_ICON = 1030,
    WM_QUIT_HOST = 1031,
    WM_GUI_TASK = 1032,  // lParam: a GuiTask the window procedure runs and deletes
};

class Win32GuiThread;

struct GuiTask {
    GuiThread::Task run;
    Win32GuiThread* thread;
};

class Win32GuiThread final : public GuiThread {
public:
    // Called on the thread that runs the message loop, once the window exists.
    explicit Win32GuiThread(HWND mainWindow);
    ~Win32GuiThread();
    Win32GuiThread(const Win32GuiThread&) = delete;
    Win32GuiThread& operator=(const Win32GuiThread&) = delete;

    // The window procedure's part: runs and deletes the task of a WM_GUI_TASK.
    static void runPosted(LPARAM message);

    bool post(Task task) override;
    bool isCurrent() const override;
    void quit() override;

    // GUI thread: whose open editors get effEditIdle about 30 times a second
    // (null: nobody's). The idler must stay valid until it is replaced.
    void idleEditorsOf(EditorIdler* idler);

private:
    void watchForEditors();
    static void CALLBACK onIdleTimer(HWND window, UINT message, UINT_PTR timer, DWORD time);

    HWND window;
    DWORD threadId;
    // GUI thread.
    EditorIdler* idler = nullptr;
    bool idling = false;  // the idle timer runs
};
