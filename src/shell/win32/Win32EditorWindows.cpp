// Plug-in editor windows on Windows: a frame titled after its plug-in and
// one content child into which the plug-in builds its editor.
#include <windows.h>

#include <string>

#include "shell/EditorWindows.h"
#include "shell/win32/Win32Module.h"
#include "shell/win32/resource.h"

namespace {

constexpr wchar_t kFrameClass[] = L"CorvelStudioPlugin";
constexpr wchar_t kContentClass[] = L"CorvelStudioPluginContent";
constexpr UINT kClassStyle = CS_OWNDC | CS_DBLCLKS;     // 0x28
constexpr DWORD kFrameStyle = WS_SYSMENU;               // 0x00080000: no sizing, no min/max
constexpr DWORD kContentStyle = WS_CHILD | WS_VISIBLE;  // 0x50000000
// The frame is fitted as if it had the main window's style, so its client
// area comes out a little larger than the content.
constexpr DWORD kFittingStyle = WS_OVERLAPPEDWINDOW;  // 0x00CF0000
constexpr int kObserverSlot = 0;

bool editorClassesRegistered = false;

// The observer hears of a close while the frame still stands, so the
// plug-in closes its editor before DefWindowProcW destroys the frame.
LRESULT CALLBACK editorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        auto* observer =
            reinterpret_cast<WindowObserver*>(GetWindowLongPtrW(window, kObserverSlot));
        if (observer) observer->onWindowClosed(window);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void registerEditorClasses() {
    if (editorClassesRegistered) return;
    // Attempted once per process: a failed registration shows as a failed creation.
    editorClassesRegistered = true;

    static WNDCLASSEXW frameClass = {};
    frameClass.cbSize = sizeof(frameClass);
    frameClass.style = kClassStyle;
    frameClass.lpfnWndProc = editorWindowProc;
    frameClass.cbWndExtra = sizeof(WindowObserver*);
    frameClass.hInstance = appInstance;
    frameClass.hIcon = LoadIconW(appInstance, MAKEINTRESOURCEW(IDI_CORVEL_APP));
    frameClass.lpszClassName = kFrameClass;
    RegisterClassExW(&frameClass);

    static WNDCLASSEXW contentClass = {};
    contentClass.cbSize = sizeof(contentClass);
    contentClass.style = kClassStyle;
    contentClass.lpfnWndProc = DefWindowProcW;
    contentClass.hInstance = appInstance;
    contentClass.lpszClassName = kContentClass;
    RegisterClassExW(&contentClass);
}

}  // namespace

WindowHandle createEditorWindow(const std::string& title, WindowHandle* content,
                                WindowObserver* observer) {
    registerEditorClasses();
    // Sized later by resizeEditorWindow, once the plug-in's editor is open.
    HWND frame = CreateWindowExW(0, kFrameClass, widen(title).c_str(), kFrameStyle, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                 appInstance, nullptr);
    if (!frame) return nullptr;
    HWND child =
        CreateWindowExW(0, kContentClass, L"", kContentStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, frame, nullptr, appInstance, nullptr);
    *content = child;
    // Attached only now, so messages sent during creation find no observer.
    SetWindowLongPtrW(frame, kObserverSlot, reinterpret_cast<LONG_PTR>(observer));
    return frame;
}

void resizeEditorWindow(int32_t width, int32_t height, WindowHandle frame) {
    HWND frameWindow = static_cast<HWND>(frame);
    RECT rect = {0, 0, width, height};
    HWND child = GetWindow(frameWindow, GW_CHILD);
    if (child) SetWindowPos(child, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    AdjustWindowRect(&rect, kFittingStyle, FALSE);
    SetWindowPos(frameWindow, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_SHOWWINDOW);
}

void showEditorWindow(WindowHandle frame) {
    ShowWindow(static_cast<HWND>(frame), SW_SHOW);
}

void raiseEditorWindow(WindowHandle frame) {
    BringWindowToTop(static_cast<HWND>(frame));
}

void destroyEditorWindow(WindowHandle frame) {
    DestroyWindow(static_cast<HWND>(frame));
}

bool editorWindowsAvailable() {
    return true;  // a desktop session always has windows
}

void reclaimDisplayHooks() {
    // Nothing of a plug-in's outlives its module here.
}
