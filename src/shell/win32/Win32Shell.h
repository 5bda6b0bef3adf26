// What the Windows shell's files share: the process-wide handles set at
// start-up and the window procedures.
#pragma once

#include <windows.h>

extern HINSTANCE appInstance;
extern HWND mainWindow;

// Records the calling thread as the GUI thread (the one that runs the loop).
void markGuiThread();

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
