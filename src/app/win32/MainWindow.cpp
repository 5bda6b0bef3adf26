// The hidden main window: target of every message the worker thread posts,
// owner of the tray icon and its menu.
#include <windows.h>

#include <memory>

#include "app/win32/MainWindow.h"
#include "shell/win32/resource.h"

HINSTANCE appInstance = nullptr;

namespace {

constexpr LPARAM kTrayRightButtonUp = WM_RBUTTONUP;  // 517

MainWindowState* stateOf(HWND window) {
    return reinterpret_cast<MainWindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void showTrayMenu(HWND mainWindow) {
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

void shutDownHost(HWND window) {
    MainWindowState* state = stateOf(window);
    if (!state || !state->host) return;
    // Channel first (waiting workers are released), then editors and plug-ins.
    state->host->shutdown();
    state->gui->idleEditorsOf(nullptr);
    state->host.reset();
}

}  // namespace

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            shutDownHost(window);
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
        case WM_GUI_TASK:
            Win32GuiThread::runPosted(lParam);
            return 0;
        case WM_QUIT_HOST:
            DestroyWindow(window);
            return 0;
        case WM_TRAY_ICON:
            if (lParam == kTrayRightButtonUp) showTrayMenu(window);
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
