// The running program: hidden main window, About box, editor windows, a
// second instance on a taken port, and every way the program ends.
#include <algorithm>
#include <cstring>
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

// Posts `trigger` to open the About box, checks it, closes it with `closing`.
void checkAboutBox(const ChildProgram& program, HWND mainWindow, const std::string& how,
                   const std::function<void()>& trigger, const std::function<void(HWND)>& closing) {
    trigger();
    HWND dialog = waitForTopWindow(program.id(), L"#32770", kWindowMs);
    check(dialog && textOf(dialog) == L"About VST2Host", how + " opens the About box",
          dialog ? narrow(textOf(dialog)) : "no dialog");
    if (!dialog) return;
    const std::vector<std::wstring> texts = childTexts(dialog);
    auto has = [&](const wchar_t* text) {
        for (const std::wstring& t : texts)
            if (t == text) return true;
        return false;
    };
    check(has(L"VST2Host, Version " CORVEL_VERSION) && has(L"Copyright (C) 2026 Corvel") && has(L"OK"),
          how + ": the About box shows its version, copyright and OK");
    check(GetWindow(dialog, GW_OWNER) == mainWindow, how + ": the About box is owned by the main window");
    closing(dialog);
    check(waitUntil([&] { return !IsWindow(dialog); }, kWindowMs), how + ": the About box closes");
}

void checkAboutBoxes(const ChildProgram& program, HWND mainWindow) {
    checkAboutBox(
        program, mainWindow, "command 104",
        [&] { PostMessageW(mainWindow, WM_COMMAND, 104, 0); },
        [](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDOK, 0); });
    // Without Alt held the accelerators do not apply (Alt with the keys is
    // checked with real input in the tray scenario).
    PostMessageW(mainWindow, WM_CHAR, L'?', 1);
    HWND unwanted = waitForTopWindow(program.id(), L"#32770", 1500);
    check(unwanted == nullptr, "\"?\" without Alt opens nothing");
    if (unwanted) PostMessageW(unwanted, WM_COMMAND, IDOK, 0);
}

// Presses Alt (and Shift) with `key` and lets go, as a user would.
void pressAltChord(WORD key, bool shift) {
    std::vector<INPUT> inputs;
    auto press = [&](WORD vk, bool up) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    press(VK_MENU, false);
    if (shift) press(VK_SHIFT, false);
    press(key, false);
    press(key, true);
    if (shift) press(VK_SHIFT, true);
    press(VK_MENU, true);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
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

// Moves the mouse to the middle of `window` and clicks it with one button.
void clickOn(HWND window, bool right) {
    RECT rect = {};
    if (!window || !GetWindowRect(window, &rect)) return;
    SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    SendInput(2, inputs, sizeof(INPUT));
}

struct EditorFrame {
    HWND frame = nullptr;
    HWND content = nullptr;
};

EditorFrame waitForEditor(const ChildProgram& program, HWND previous = nullptr) {
    EditorFrame editor;
    waitUntil(
        [&] {
            for (HWND window : topWindows(program.id(), L"CorvelStudioPlugin")) {
                if (window != previous && IsWindowVisible(window)) {
                    editor.frame = window;
                    return true;
                }
            }
            return false;
        },
        kWindowMs);
    if (editor.frame) editor.content = GetWindow(editor.frame, GW_CHILD);
    return editor;
}

// The frame around a content area of width x height, fitted as the program does.
SIZE fittedFrame(int width, int height) {
    RECT rect = {0, 0, width, height};
    AdjustWindowRect(&rect, kOverlappedWindow, FALSE);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

void checkEditor(const EditorFrame& editor, int width, int height, const std::string& label) {
    check(editor.frame != nullptr, label + ": an editor frame of class \"CorvelStudioPlugin\" is shown");
    if (!editor.frame) return;
    check(textOf(editor.frame).rfind(L"Corvel VST/Remote - test_", 0) == 0 ||
              textOf(editor.frame) == L"Corvel VST/Remote - Resizing Editor",
          label + ": the frame is titled after its plug-in", narrow(textOf(editor.frame)));
    const LONG style = GetWindowLongW(editor.frame, GWL_STYLE);
    check((style & WS_SYSMENU) && (style & WS_CAPTION) == WS_CAPTION &&
              !(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) && !(style & WS_CHILD),
          label + ": the frame has a caption and close box but cannot be resized, minimized or maximized");
    check(GetParent(editor.frame) == nullptr && GetWindow(editor.frame, GW_OWNER) == nullptr,
          label + ": the frame is a top-level window of its own");
    check(editor.content && classOf(editor.content) == L"CorvelStudioPluginContent" &&
              (GetWindowLongW(editor.content, GWL_STYLE) & (WS_CHILD | WS_VISIBLE)) == (WS_CHILD | WS_VISIBLE),
          label + ": the frame holds a visible content child of class \"CorvelStudioPluginContent\"");
    if (!editor.content) return;
    const SIZE content = clientSize(editor.content);
    check(content.cx == width && content.cy == height,
          label + ": the content area is the plug-in's " + std::to_string(width) + "x" + std::to_string(height),
          sizeText(content));
    const SIZE frame = outerSize(editor.frame);
    const SIZE expected = fittedFrame(width, height);
    check(frame.cx == expected.cx && frame.cy == expected.cy,
          label + ": the frame is fitted around the content", sizeText(frame) + ", expected " + sizeText(expected));
    const SIZE frameClient = clientSize(editor.frame);
    check(frameClient.cx >= width && frameClient.cy >= height,
          label + ": the content fits inside the frame's client area", sizeText(frameClient));
}

// Sends one block and checks that the plug-in processed it (the gain plug-in halves it).
void checkAudioRoundTrip(WsClient& client, const std::string& name) {
    const std::vector<float> block(2 * 1024, 1.0f);
    client.sendBinary(block.data(), block.size() * sizeof(float));
    const WsMessage reply = client.receive(kReplyMs);
    bool halved = reply.opcode == 2 && reply.data.size() == block.size() * sizeof(float);
    if (halved) {
        std::vector<float> samples(block.size());
        std::memcpy(samples.data(), reply.data.data(), reply.data.size());
        for (float sample : samples) halved = halved && sample == 0.5f;
    }
    check(halved, name, "opcode " + std::to_string(reply.opcode) + ", " + std::to_string(reply.data.size()) + " bytes");
}

void checkSecondInstance(const Options& options) {
    ChildProgram second;
    setTestPort(options.port);
    check(second.start(options.program), "a second instance starts");
    DWORD code = 0;
    const bool ended = second.waitForExit(kStartMs, code);
    const std::string expected = "cannot listen on 127.0.0.1:" + std::to_string(options.port);
    check(ended && code == 1, "a second instance on the same port ends with status 1",
          ended ? "status " + std::to_string(code) : "still running");
    check(second.errors().find(expected) != std::string::npos,
          "a second instance says \"" + expected + "\" on stderr", quoted(second.errors()));
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
    check(program.waitForOutput("WS connected\n", kReplyMs) && program.waitForOutput("WS ready\n", kReplyMs),
          "\"WS connected\" and \"WS ready\" appear on stdout", quoted(program.output()));
    check(program.output().find("setting Host buffer size to 1024\n") != std::string::npos,
          "the start-up block size is printed on stdout", quoted(program.output()));

    HWND mainWindow = mainWindowOf(program);
    check(mainWindow != nullptr, "there is one main window of class \"VST2HOST\"");
    if (!mainWindow) return;
    VisibilityWatch mainWatch(mainWindow);
    check(textOf(mainWindow) == L"VST2Host", "the main window is titled \"VST2Host\"", narrow(textOf(mainWindow)));
    const LONG style = GetWindowLongW(mainWindow, GWL_STYLE);
    check((style & kOverlappedWindow) == kOverlappedWindow && !(style & WS_VISIBLE),
          "the main window has the overlapped-window style and is not visible");

    checkAboutBoxes(program, mainWindow);

    // Loading opens the editor at the plug-in's size.
    client.sendText("load " + narrow(pluginPath(options, "editor")));
    receiveText(client, "ready", "loading the editor plug-in answers \"ready\"");
    receiveText(client, "fixedCompensationDelaySamp\n0", "loading the editor plug-in reports latency 0");
    EditorFrame editor = waitForEditor(program);
    checkEditor(editor, 400, 300, "first editor");
    if (editor.content) {
        const std::string parent = "effEditOpen parent=" +
                                   std::to_string(reinterpret_cast<uintptr_t>(editor.content));
        check(readFileText(log).find(parent) != std::string::npos,
              "the plug-in builds its editor into the content window", quoted(readFileText(log)));
    }

    // Closing the frame keeps the plug-in.
    if (editor.frame) {
        PostMessageW(editor.frame, WM_CLOSE, 0, 0);
        check(waitUntil([&] { return !IsWindow(editor.frame); }, kWindowMs), "WM_CLOSE destroys the editor frame");
        checkAudioRoundTrip(client, "the plug-in stays loaded after its editor was closed");
        check(readFileText(log).find("effClose") == std::string::npos,
              "closing the editor frame does not close the plug-in");
        client.sendText("showGui");
        EditorFrame reopened = waitForEditor(program, editor.frame);
        checkEditor(reopened, 400, 300, "showGui after a close");
        client.sendText("showGui");
        Sleep(500);
        check(topWindows(program.id(), L"CorvelStudioPlugin").size() == 1,
              "showGui while the editor is open makes no second frame");
        editor = reopened;
    }

    // A plug-in that asks for its size, once while opening and later from a thread of its own.
    client.sendText("load " + narrow(pluginPath(options, "size_request")));
    receiveText(client, "ready", "loading the size-request plug-in answers \"ready\"");
    receiveText(client, "fixedCompensationDelaySamp\n0", "loading the size-request plug-in reports latency 0");
    EditorFrame sized = waitForEditor(program, editor.frame);
    check(editor.frame == nullptr || !IsWindow(editor.frame), "loading another plug-in destroys the previous editor");
    // It asks for 640x480 while opening and reports that size afterwards.
    checkEditor(sized, 640, 480, "size-request editor");
    if (sized.content) {
        client.sendText("midi 176 20 50|");
        std::vector<float> block(2 * 1024, 0.0f);
        client.sendBinary(block.data(), block.size() * sizeof(float));
        client.receive(kReplyMs);
        const SIZE expected = fittedFrame(500, 250);
        check(waitUntil([&] {
                  const SIZE content = clientSize(sized.content);
                  const SIZE frame = outerSize(sized.frame);
                  return content.cx == 500 && content.cy == 250 && frame.cx == expected.cx && frame.cy == expected.cy;
              }, kWindowMs),
              "a size request from a plug-in thread resizes the content to 500x250 and fits the frame around it",
              "content " + sizeText(clientSize(sized.content)) + ", frame " + sizeText(outerSize(sized.frame)) +
                  ", expected frame " + sizeText(expected));
    }

    checkSecondInstance(options);

    // "quit" ends the program with status 0.
    client.sendText("quit");
    DWORD code = 99;
    const bool ended = program.waitForExit(kStartMs, code);
    check(ended && code == 0, "\"quit\" ends the program with status 0",
          ended ? "status " + std::to_string(code) : "still running");
    check(!IsWindow(mainWindow) && (!sized.frame || !IsWindow(sized.frame)), "no window of the program is left");
    check(!mainWatch.everVisible(), "the main window was never visible");
}

void trayChecks(const Options& options) {
    const std::vector<HWND> iconsBefore = wineTrayIcons();
    ChildProgram program;
    WsClient client;
    if (!startAndConnect(options, program, client, "tray")) return;
    // The checks that start the program take turns, so a new icon is ours.
    HWND icon = nullptr;
    waitUntil(
        [&] {
            for (HWND candidate : wineTrayIcons())
                if (std::find(iconsBefore.begin(), iconsBefore.end(), candidate) == iconsBefore.end()) icon = candidate;
            return icon != nullptr;
        },
        kWindowMs);
    check(icon != nullptr && IsWindowVisible(icon), "an icon appears in the notification area");
    receiveText(client, kBanner, "tray: the client is greeted with the banner");
    client.close();
    check(program.waitForOutput("WS closed\n", kReplyMs), "a client leaving prints \"WS closed\" on stdout",
          quoted(program.output()));
    HWND mainWindow = mainWindowOf(program);
    check(mainWindow != nullptr, "tray: there is one main window");
    if (!mainWindow) return;

    // Real clicks on the icon: the shell passes them on with the callback message.
    clickOn(icon, false);
    check(waitForTopWindow(program.id(), L"#32768", 1500) == nullptr, "a left click on the tray icon opens no menu");

    clickOn(icon, true);
    HWND menu = waitForTopWindow(program.id(), L"#32768", kWindowMs);
    check(menu != nullptr, "a right click on the tray icon opens the tray menu");
    if (!menu) return;
    pressKey(VK_ESCAPE);
    check(waitUntil([&] { return !IsWindowVisible(menu); }, kWindowMs), "Escape dismisses the tray menu");
    Sleep(500);
    check(program.running(), "the program keeps running after the menu was dismissed");

    // The tray menu made the hidden main window the foreground window, so
    // real key presses now reach it: Alt with "/" and Alt with "?".
    struct Chord {
        const char* name;
        bool shift;
    } chords[] = {{"Alt+\"/\" typed on the keyboard", false}, {"Alt+\"?\" typed on the keyboard", true}};
    for (const Chord& chord : chords) {
        pressAltChord(VK_OEM_2, chord.shift);
        HWND dialog = waitForTopWindow(program.id(), L"#32770", kWindowMs);
        check(dialog && textOf(dialog) == L"About VST2Host", std::string(chord.name) + " opens the About box",
              "foreground window " + narrow(classOf(GetForegroundWindow())));
        if (!dialog) break;
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        check(waitUntil([&] { return !IsWindow(dialog); }, kWindowMs), std::string(chord.name) + ": Cancel closes it");
        // Back to the main window for the next chord.
        clickOn(icon, true);
        HWND again = waitForTopWindow(program.id(), L"#32768", kWindowMs);
        if (again) pressKey(VK_ESCAPE);
        waitUntil([&] { return !again || !IsWindowVisible(again); }, kWindowMs);
    }

    clickOn(icon, true);
    menu = waitForTopWindow(program.id(), L"#32768", kWindowMs);
    check(menu != nullptr, "the tray menu opens again");
    if (!menu) return;
    // The only item is "Exit": select it and choose it.
    pressKey(VK_DOWN);
    pressKey(VK_RETURN);
    DWORD code = 99;
    const bool ended = program.waitForExit(kStartMs, code);
    check(ended && code == 0, "choosing \"Exit\" in the tray menu ends the program with status 0",
          ended ? "status " + std::to_string(code) : "still running");
    check(icon && waitUntil([&] { return !IsWindow(icon); }, kWindowMs), "the icon leaves the notification area");
}

void closeChecks(const Options& options) {
    struct Ending {
        const char* name;
        UINT message;
        WPARAM wParam;
    } endings[] = {
        {"a close request to the main window", WM_CLOSE, 0},
        {"the main menu's Exit command", WM_COMMAND, 105},
    };
    for (const Ending& ending : endings) {
        ChildProgram program;
        WsClient client;
        if (!startAndConnect(options, program, client, ending.name)) return;
        receiveText(client, kBanner, std::string(ending.name) + ": the client is greeted with the banner");
        HWND mainWindow = mainWindowOf(program);
        check(mainWindow != nullptr, std::string(ending.name) + ": there is one main window");
        if (!mainWindow) return;
        PostMessageW(mainWindow, ending.message, ending.wParam, 0);
        DWORD code = 99;
        const bool ended = program.waitForExit(kStartMs, code);
        check(ended && code == 0, std::string(ending.name) + " ends the program with status 0",
              ended ? "status " + std::to_string(code) : "still running");
        const WsMessage last = client.receive(kReplyMs);
        check(last.opcode == 0 || last.opcode == 8, std::string(ending.name) + ": the connection is closed");
    }
}
