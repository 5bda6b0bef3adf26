// The program's shell on one run: the hidden main window and its About box,
// the tray icon, the consent box and the folder scan, then "Exit" from the
// tray menu.
#include <algorithm>
#include <vector>

#include "CheckSupport.h"

namespace {

// Wine draws each notification icon as a window of its own.
std::vector<HWND> wineTrayIcons() {
    std::vector<HWND> icons;
    for (HWND tray = nullptr;
         (tray = FindWindowExW(nullptr, tray, L"__winex11_standalone_tray", nullptr));)
        for (HWND icon = nullptr;
             (icon = FindWindowExW(tray, icon, L"__winex11_tray_icon", nullptr));)
            icons.push_back(icon);
    return icons;
}

void pressKey(BYTE key) {
    const auto scanCode = static_cast<BYTE>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    keybd_event(key, scanCode, 0, 0);
    keybd_event(key, scanCode, KEYEVENTF_KEYUP, 0);
}

void rightClick(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    mouse_event(MOUSEEVENTF_RIGHTDOWN, 0, 0, 0, 0);
    mouse_event(MOUSEEVENTF_RIGHTUP, 0, 0, 0, 0);
}

}  // namespace

void shellChecks(const Options& options) {
    const std::vector<HWND> iconsBefore = wineTrayIcons();
    ChildProgram program;
    WsClient client;
    if (!startAndConnect(options, program, client)) return;

    HWND mainWindow = mainWindowOf(program.id());
    check(mainWindow && textOf(mainWindow) == L"VST2Host" && !IsWindowVisible(mainWindow),
          "one hidden main window of class \"VST2HOST\" titled \"VST2Host\"");
    PostMessageW(mainWindow, WM_COMMAND, 104, 0);
    HWND about = waitForTopWindow(program.id(), L"#32770", kWindowMs);
    check(about && textOf(about) == L"About VST2Host" && GetWindow(about, GW_OWNER) == mainWindow,
          "command 104 opens the About box, owned by the main window");
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    check(waitUntil([&] { return !IsWindow(about); }, kWindowMs), "OK closes the About box");

    // The checks that start the program take turns, so a new icon is ours.
    HWND icon = nullptr;
    waitUntil(
        [&] {
        for (HWND candidate : wineTrayIcons())
            if (std::find(iconsBefore.begin(), iconsBefore.end(), candidate) == iconsBefore.end())
                icon = candidate;
        return icon != nullptr;
        },
        kWindowMs);
    check(icon && IsWindowVisible(icon), "an icon appears in the notification area");

    consentChecks(options, program);
    scanChecks(options, client);

    // A real right click on the icon opens the menu; its only item is "Exit".
    rightClick(icon);
    check(waitForTopWindow(program.id(), L"#32768", kWindowMs),
          "a right click on the tray icon opens the tray menu");
    pressKey(VK_DOWN);
    pressKey(VK_RETURN);
    checkEndsCleanly(program, "choosing \"Exit\" in the tray menu");
    check(icon && waitUntil([&] { return !IsWindow(icon); }, kWindowMs),
          "the icon leaves the notification area");
    check(client.waitClosed(kReplyMs), "the connection is closed");
}
