// The running program: hidden main window, About box, editor windows, the
// tray icon and menu, and every way the program ends.
#include <algorithm>
#include <string>
#include <vector>

#include "CheckSupport.h"
#include "Version.h"

namespace {

constexpr DWORD kOverlappedWindow = 0x00CF0000;
const std::string kBanner = "corvel studio plugin loader\nversion 0.1.0";

HWND mainWindowOf(const ChildProgram& program) {
    const std::vector<HWND> found = topWindows(program.id(), L"VST2HOST");
    return found.size() == 1 ? found[0] : nullptr;
}

void pressKey(WORD key) {
    INPUT inputs[2] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    }
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
}

// A real right click in the middle of `window`.
void rightClickOn(HWND window) {
    RECT rect = {};
    if (!window || !GetWindowRect(window, &rect)) return;
    SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
    SendInput(2, inputs, sizeof(INPUT));
}

HWND waitForEditor(const ChildProgram& program, HWND previous = nullptr) {
    HWND found = nullptr;
    waitUntil([&] {
        for (HWND window : topWindows(program.id(), L"CorvelStudioPlugin"))
            if (window != previous && IsWindowVisible(window)) found = window;
        return found != nullptr;
    }, kWindowMs);
    return found;
}

// The frame around a content area of width x height, fitted as the program does.
SIZE fittedFrame(int width, int height) {
    RECT rect = {0, 0, width, height};
    AdjustWindowRect(&rect, kOverlappedWindow, FALSE);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

bool fits(HWND frame, int width, int height) {
    HWND content = GetWindow(frame, GW_CHILD);
    const SIZE size = content ? clientSize(content) : SIZE{}, outer = outerSize(frame), want = fittedFrame(width, height);
    return size.cx == width && size.cy == height && outer.cx == want.cx && outer.cy == want.cy;
}

void checkEditor(HWND frame, int width, int height, const std::string& label) {
    check(frame != nullptr, label + ": an editor frame is shown");
    if (!frame) return;
    HWND content = GetWindow(frame, GW_CHILD);
    const LONG style = GetWindowLongW(frame, GWL_STYLE);
    // Titled after the plug-in: its own name, else its file name.
    check(textOf(frame).rfind(L"Corvel VST/Remote - ", 0) == 0 && textOf(frame).size() > 20 &&
              GetParent(frame) == nullptr &&
              (style & WS_SYSMENU) && !(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_CHILD)),
          label + ": a titled top-level frame with a close box that cannot be resized", narrow(textOf(frame)));
    check(content && classOf(content) == L"CorvelStudioPluginContent" && IsWindowVisible(content),
          label + ": the frame holds the visible content window");
    check(fits(frame, width, height), label + ": the content is " + std::to_string(width) + "x" +
          std::to_string(height) + " and the frame fits around it", content ? sizeText(clientSize(content)) : "");
}

// The gain plug-in halves a block.
void checkAudioRoundTrip(WsClient& client, const std::string& name) {
    const std::vector<float> block(2 * 1024, 1.0f);
    client.sendBinary(block);
    const auto reply = client.receiveBinary(kReplyMs);
    const auto samples = testing_support::floatsOf(reply.value_or(""));
    check(samples.size() == block.size() && std::all_of(samples.begin(), samples.end(), [](float s) { return s == 0.5f; }),
          name);
}

}  // namespace

void sessionChecks(const Options& options) {
    const std::wstring log = windowsPath(options.plugins + "/windows-session.log");
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"CORVEL_TEST_PLUGIN_LOG", log.c_str());

    ChildProgram program;
    WsClient client;
    if (!startAndConnect(options, program, client, "session")) return;
    receiveText(client, kBanner, "the client is greeted with the banner");
    check(program.waitForOutput("WS connected\nWS ready\n", kReplyMs), "\"WS connected\" and \"WS ready\" on stdout");

    HWND mainWindow = mainWindowOf(program);
    check(mainWindow && textOf(mainWindow) == L"VST2Host" && !IsWindowVisible(mainWindow),
          "one hidden main window of class \"VST2HOST\" titled \"VST2Host\"");
    if (!mainWindow) return;
    PostMessageW(mainWindow, WM_COMMAND, 104, 0);
    HWND about = waitForTopWindow(program.id(), L"#32770", kWindowMs);
    check(about && textOf(about) == L"About VST2Host" && GetWindow(about, GW_OWNER) == mainWindow,
          "command 104 opens the About box, owned by the main window");
    if (about) PostMessageW(about, WM_COMMAND, IDOK, 0);
    check(waitUntil([&] { return !IsWindow(about); }, kWindowMs), "OK closes the About box");

    // Loading opens the editor at the plug-in's size, built into the content window.
    client.sendText("load " + narrow(pluginPath(options, "editor")));
    receiveText(client, "ready", "loading the editor plug-in answers \"ready\"");
    receiveText(client, "fixedCompensationDelaySamp\n0", "and reports latency 0");
    HWND editor = waitForEditor(program);
    checkEditor(editor, 400, 300, "first editor");
    if (!editor) return;
    const std::string parent = "effEditOpen parent=" + std::to_string(reinterpret_cast<uintptr_t>(GetWindow(editor, GW_CHILD)));
    check(readFileText(log).find(parent) != std::string::npos, "the plug-in builds its editor into the content window");

    // Closing the frame keeps the plug-in; showGui opens a new one, once.
    PostMessageW(editor, WM_CLOSE, 0, 0);
    check(waitUntil([&] { return !IsWindow(editor); }, kWindowMs), "WM_CLOSE destroys the editor frame");
    checkAudioRoundTrip(client, "the plug-in stays loaded after its editor was closed");
    client.sendText("showGui");
    HWND reopened = waitForEditor(program, editor);
    checkEditor(reopened, 400, 300, "showGui after a close");
    client.sendText("showGui");
    Sleep(500);
    check(topWindows(program.id(), L"CorvelStudioPlugin").size() == 1, "showGui while open makes no second frame");

    // A plug-in that asks for its size while opening, and later from a thread of its own.
    client.sendText("load " + narrow(pluginPath(options, "size_request")));
    receiveText(client, "ready", "loading the size-request plug-in answers \"ready\"");
    receiveText(client, "fixedCompensationDelaySamp\n0", "and reports latency 0");
    HWND sized = waitForEditor(program, reopened);
    check(!IsWindow(reopened), "loading another plug-in destroys the previous editor");
    checkEditor(sized, 640, 480, "size-request editor");
    if (sized) {
        client.sendText("midi 176 20 50|");
        client.sendBinary(std::vector<float>(2 * 1024, 0.0f));
        client.receive(kReplyMs);
        check(waitUntil([&] { return fits(sized, 500, 250); }, kWindowMs),
              "a size request from a plug-in thread resizes the content to 500x250 and fits the frame");
    }

    // A plug-in process that crashes is replaced, and leaves no handle of
    // its own behind in the program. Each cycle loads afresh (a third crash
    // within a minute would be given up on); the counting starts after the
    // first, once whatever the program makes on first use exists.
    const auto loadCrashAndRelaunch = [&](const std::string& label) {
        client.sendText("load " + narrow(pluginPath(options, "abort_in_process")));
        receiveText(client, "ready", label + ": the crashing plug-in loads");
        receiveText(client, "fixedCompensationDelaySamp\n0", label + ": and reports latency 0");
        client.sendBinary(std::vector<float>(2 * 1024, -999.0f));
        const auto inFlight = client.receiveBinary(kReplyMs);
        check(inFlight && inFlight->empty(), label + ": the block in flight gets an empty reply");
        receiveText(client, "crashed\nexit 3", label + ": \"crashed\" with the C runtime's abort code");
        receiveText(client, "ready", label + ": relaunched");
        receiveText(client, "fixedCompensationDelaySamp\n0", label + ": and reports latency 0 again");
    };
    // Read once the count holds still: the last relaunch's threads may still be ending.
    const auto settledHandleCount = [&] {
        int now = handleCountOf(program.id());
        for (int last = -2, tries = 0; now != last && tries < 10; ++tries) {
            Sleep(300);
            last = now;
            now = handleCountOf(program.id());
        }
        return now;
    };
    loadCrashAndRelaunch("crash 1");
    const int handlesBefore = settledHandleCount();
    for (int cycle = 2; cycle <= 4; ++cycle) loadCrashAndRelaunch("crash " + std::to_string(cycle));
    const int handlesAfter = settledHandleCount();
    check(handlesBefore > 0 && handlesAfter == handlesBefore, "crashes and relaunches leave no handle behind",
          std::to_string(handlesBefore) + " handles before, " + std::to_string(handlesAfter) + " after");

    client.sendText("quit");
    checkEndsCleanly(program, "\"quit\"");
    check(!IsWindow(mainWindow) && !IsWindow(sized), "no window of the program is left");
}

void trayChecks(const Options& options) {
    const std::vector<HWND> iconsBefore = wineTrayIcons();
    ChildProgram program;
    WsClient client;
    if (!startAndConnect(options, program, client, "tray")) return;
    // The checks that start the program take turns, so a new icon is ours.
    HWND icon = nullptr;
    waitUntil([&] {
        for (HWND candidate : wineTrayIcons())
            if (std::find(iconsBefore.begin(), iconsBefore.end(), candidate) == iconsBefore.end()) icon = candidate;
        return icon != nullptr;
    }, kWindowMs);
    check(icon != nullptr && IsWindowVisible(icon), "an icon appears in the notification area");
    receiveText(client, kBanner, "tray: the client is greeted with the banner");
    client.disconnect();
    check(program.waitForOutput("WS closed\n", kReplyMs), "a client leaving prints \"WS closed\"");

    // A real right click on the icon opens the menu; its only item is "Exit".
    rightClickOn(icon);
    HWND menu = waitForTopWindow(program.id(), L"#32768", kWindowMs);
    check(menu != nullptr, "a right click on the tray icon opens the tray menu");
    if (!menu) return;
    pressKey(VK_DOWN);
    pressKey(VK_RETURN);
    checkEndsCleanly(program, "choosing \"Exit\" in the tray menu");
    check(icon && waitUntil([&] { return !IsWindow(icon); }, kWindowMs), "the icon leaves the notification area");
}

void closeChecks(const Options& options) {
    struct Ending {
        const char* name;
        UINT message;
        WPARAM wParam;
    } endings[] = {{"a close request to the main window", WM_CLOSE, 0}, {"the main menu's Exit command", WM_COMMAND, 105}};
    for (const Ending& ending : endings) {
        ChildProgram program;
        WsClient client;
        if (!startAndConnect(options, program, client, ending.name)) return;
        receiveText(client, kBanner, std::string(ending.name) + ": the client is greeted with the banner");
        HWND mainWindow = mainWindowOf(program);
        if (mainWindow) PostMessageW(mainWindow, ending.message, ending.wParam, 0);
        checkEndsCleanly(program, ending.name);
        check(client.waitClosed(kReplyMs), std::string(ending.name) + ": the connection is closed");
    }
}
