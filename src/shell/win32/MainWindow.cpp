// The hidden main window: target of every message the worker thread posts,
// owner of the tray icon and its menu.
#include <windows.h>

#include "host/VST2Host.h"
#include "shell/GuiDispatch.h"
#include "shell/win32/Win32Shell.h"
#include "shell/win32/resource.h"

HINSTANCE appInstance = nullptr;
HWND mainWindow = nullptr;

namespace {

constexpr LPARAM kTrayRightButtonUp = WM_RBUTTONUP;  // 517

void showTrayMenu() {
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, IDM_EXIT, L"Exit");
    POINT cursor;
    GetCursorPos(&cursor);
    // Without this the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(mainWindow);
    const UINT command = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD, cursor.x, cursor.y, 0, mainWindow, nullptr));
    SendMessageW(mainWindow, WM_COMMAND, static_cast<WORD>(command), 0);
    DestroyMenu(menu);
}

void shutDownHost() {
    if (!hostInstance) return;
    // A worker blocked in a state call would keep the server from stopping,
    // so it is released before the channel is stopped.
    releaseSyncCallers();
    hostInstance->stopChannel();
    delete hostInstance;
    hostInstance = nullptr;
}

}  // namespace

bool postGuiMessage(unsigned message, void* payload) {
    return PostMessageW(mainWindow, message, 0, reinterpret_cast<LPARAM>(payload)) != 0;
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            shutDownHost();
            PostQuitMessage(0);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDM_ABOUT:
                    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_ABOUT_BOX), window,
                                    aboutDialogProc, 0);
                    return 0;
                case IDM_EXIT:
                    DestroyWindow(window);
                    return 0;
                default:
                    break;
            }
            break;
        case WM_LOAD_PLUGIN:
        case WM_UNLOAD_PLUGIN:
        case WM_GET_STATE:
        case WM_SET_STATE:
        case WM_SHOW_GUI:
        case WM_RESIZE_EDITOR:
            handleGuiMessage(message, reinterpret_cast<void*>(lParam));
            return 0;
        case WM_QUIT_HOST:
            DestroyWindow(mainWindow);
            return 0;
        case WM_TRAY_ICON:
            if (lParam == kTrayRightButtonUp) showTrayMenu();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}
