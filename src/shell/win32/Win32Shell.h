// What the Windows shell's files share: the module handle and the window
// procedures.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "host/VST2Host.h"
#include "shell/win32/Win32ConsentDialog.h"
#include "shell/win32/Win32GuiThread.h"

extern HINSTANCE appInstance;

// UTF-8 to the UTF-16 that window titles and message boxes take.
std::wstring widen(const std::string& text);

// What the hidden main window owns, reached through its GWLP_USERDATA.
struct MainWindowState {
    std::unique_ptr<Win32GuiThread> gui;
    std::unique_ptr<Win32ConsentDialog> consent;  // outlives the host, whose channel asks it
    std::unique_ptr<VST2Host> host;
};

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
