// The program's hidden main window: what it owns, reached through its
// GWLP_USERDATA, and the window procedures of it and of the About box.
#pragma once

#include <windows.h>

#include <memory>

#include "host/VST2Host.h"
#include "shell/win32/Win32ConsentDialog.h"
#include "shell/win32/Win32GuiThread.h"
#include "shell/win32/Win32Module.h"

struct MainWindowState {
    std::unique_ptr<Win32GuiThread> gui;
    std::unique_ptr<Win32ConsentDialog> consent;  // outlives the host, whose channel asks it
    std::unique_ptr<VST2Host> host;
};

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
