// Entry point of the Windows program: a tray application whose entry thread
// creates the hidden main window, starts the host and runs the message loop.
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "app/Startup.h"
#include "app/win32/MainWindow.h"
#include "host/VST2Host.h"
#include "shell/win32/resource.h"

namespace {

constexpr DWORD kMainWindowStyle = WS_OVERLAPPEDWINDOW;  // 0x00CF0000, never shown
constexpr int kTextBufferLength = 100;
constexpr wchar_t kTrayTip[] = L"Corvel VST/Remote";

static_assert(sizeof(NOTIFYICONDATAW) == 976, "the tray record must be the current layout");

void reportStartFailure(const std::string& error, const wchar_t* title) {
    std::fprintf(stderr, "%s\n", error.c_str());
    // A tray program has no console, so the user is told in a box too; tests
    // that pick their own port have nobody to dismiss it.
    const char* testPort = std::getenv("CORVEL_TEST_PORT");
    if (testPort && *testPort) return;
    MessageBoxW(nullptr, widen(error).c_str(), title, MB_OK | MB_ICONERROR);
}

NOTIFYICONDATAW trayRecord(HWND mainWindow) {
    NOTIFYICONDATAW record = {};
    record.cbSize = sizeof(record);
    record.hWnd = mainWindow;
    record.uID = 0;
    return record;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Diagnostics go to whatever stdout is (a pipe under a test harness):
    // unbuffered so that every line arrives when it is printed, and binary
    // so that lines end in "\n" alone, as on every other platform.
    // Started from the desktop there is no stdout at all.
    if (_fileno(stdout) >= 0) _setmode(_fileno(stdout), _O_BINARY);
    if (_fileno(stderr) >= 0) _setmode(_fileno(stderr), _O_BINARY);
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    wchar_t title[kTextBufferLength];
    wchar_t className[kTextBufferLength];
    LoadStringW(instance, IDS_MAIN_TITLE, title, kTextBufferLength);
    LoadStringW(instance, IDS_MAIN_CLASS, className, kTextBufferLength);

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_CORVEL_APP));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MAIN_MENU);
    windowClass.lpszClassName = className;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_CORVEL_APP));
    RegisterClassExW(&windowClass);

    appInstance = instance;
    HWND window = CreateWindowExW(0, className, title, kMainWindowStyle, CW_USEDEFAULT, 0, 400, 400,
                                  nullptr, nullptr, instance, nullptr);
    if (!window) return 0;
    HWND mainWindow = window;
    MainWindowState state;
    state.gui = std::make_unique<Win32GuiThread>(mainWindow);
    state.consent = std::make_unique<Win32ConsentDialog>(*state.gui);
    SetWindowLongPtrW(mainWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));

    std::string error;
    state.host = startHost(*state.gui, error);
    if (!state.host) {
        reportStartFailure(error, title);
        return 1;
    }
    state.host->setConsentPrompt(state.consent.get());
    state.gui->idleEditorsOf(state.host.get());

    NOTIFYICONDATAW tray = trayRecord(mainWindow);
    tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray.uCallbackMessage = WM_TRAY_ICON;
    tray.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_CORVEL_TRAY),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    const size_t tipSlots = sizeof(tray.szTip) / sizeof(tray.szTip[0]);
    std::wcsncpy(tray.szTip, kTrayTip, tipSlots);
    tray.szTip[tipSlots - 1] = L'\0';
    if (!Shell_NotifyIconW(NIM_ADD, &tray)) {
        // Without an icon the user could not end the program: stop cleanly.
        DestroyWindow(mainWindow);
        return 0;
    }

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));

    MSG msg = {};
    BOOL result;
    while ((result = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (result == -1) continue;
        // Against the message's own window, so the keys work in editor windows too.
        if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

    NOTIFYICONDATAW removal = trayRecord(mainWindow);
    Shell_NotifyIconW(NIM_DELETE, &removal);
    return static_cast<int>(msg.wParam);
}
