// Plug-ins on one run of the program: their editor windows, idled and
// closed, the handles a crashed plug-in process leaves, then a close
// request to the main window.
#include <winternl.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "CheckSupport.h"

namespace {

HWND waitForEditor(const ChildProgram& program, HWND previous = nullptr) {
    return waitForTopWindow(program.id(), L"CorvelStudioPlugin", kWindowMs, previous);
}

void loads(WsClient& client, const Options& options, const std::wstring& plugin) {
    client.sendText("load " + narrow(options.plugins + L"\\test_" + plugin + L".dll"));
    receiveAll(client, {"ready", "fixedCompensationDelaySamp\n0"},
               "loading test_" + narrow(plugin) + " answers \"ready\" and latency 0");
}

// The content is width x height and the frame is fitted around it as around the main window.
bool fits(HWND frame, int width, int height) {
    RECT want = {0, 0, width, height}, content = {}, outer = {};
    AdjustWindowRect(&want, WS_OVERLAPPEDWINDOW, FALSE);
    GetClientRect(GetWindow(frame, GW_CHILD), &content);
    GetWindowRect(frame, &outer);
    return content.right == width && content.bottom == height &&
           outer.right - outer.left == want.right - want.left &&
           outer.bottom - outer.top == want.bottom - want.top;
}

void checkEditor(HWND frame, int width, int height, const std::string& label) {
    const LONG style = frame ? GetWindowLongW(frame, GWL_STYLE) : 0;
    HWND content = frame ? GetWindow(frame, GW_CHILD) : nullptr;
    // Titled after the plug-in: its own name, else its file name.
    check(frame && textOf(frame).rfind(L"Corvel VST/Remote - ", 0) == 0 &&
              textOf(frame).size() > 20 && !GetParent(frame) && (style & WS_SYSMENU) &&
              !(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_CHILD)),
          label + ": a titled top-level frame with a close box that cannot be resized",
          frame ? narrow(textOf(frame)) : "no frame");
    check(content &&
              content == FindWindowExW(frame, nullptr, L"CorvelStudioPluginContent", nullptr) &&
              IsWindowVisible(content) && fits(frame, width, height),
          label + ": the frame holds the visible content at " + std::to_string(width) + "x" +
              std::to_string(height) + ", fitted around it");
}

int linesIn(const std::wstring& log, const std::string& prefix) {  // that begin with the prefix
    std::istringstream lines(readFileText(log));
    int count = 0;
    for (std::string line; std::getline(lines, line);) count += line.rfind(prefix, 0) == 0;
    return count;
}

struct HandleEntry {
    PVOID object;
    ULONG_PTR process, handle;
    ULONG access;
    USHORT creatorBackTrace, type;
    ULONG attributes, reserved;
};

// Every handle in the system: Wine fills in this table where it leaves
// GetProcessHandleCount at 0.
std::vector<HandleEntry> systemHandles() {
    struct HandleTable {
        ULONG_PTR count, reserved;
        HandleEntry entries[1];
    };
    constexpr auto extendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
    constexpr NTSTATUS tooSmall = static_cast<NTSTATUS>(0xC0000004);
    std::vector<char> table(1 << 20);
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(extendedHandleInformation, table.data(),
                                              static_cast<ULONG>(table.size()), nullptr)) ==
           tooSmall)
        table.resize(table.size() * 2);
    const auto* handles = reinterpret_cast<const HandleTable*>(table.data());
    if (status != 0) return {};
    return {handles->entries, handles->entries + handles->count};
}

// The program's handles of the kinds that launching a plug-in process
// gives it: process, thread, job, shared memory and pipe. Their type
// numbers are read off handles of this process's own. Events are left out:
// Wine makes and frees some of its own as it goes.
int launchHandleCount(DWORD process) {
    HANDLE pipeEnds[2] = {};
    CreatePipe(&pipeEnds[0], &pipeEnds[1], nullptr, 0);
    const std::vector<HANDLE> samples = {
        OpenProcess(SYNCHRONIZE, FALSE, GetCurrentProcessId()),
        OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()),
        CreateJobObjectW(nullptr, nullptr),
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1, nullptr),
        pipeEnds[0],
        pipeEnds[1]};
    const std::vector<HandleEntry> handles = systemHandles();
    std::vector<USHORT> types;
    for (const HandleEntry& entry : handles)
        if (entry.process == GetCurrentProcessId() &&
            std::count(samples.begin(), samples.end(), reinterpret_cast<HANDLE>(entry.handle)))
            types.push_back(entry.type);
    for (HANDLE sample : samples) CloseHandle(sample);
    return std::count_if(handles.begin(), handles.end(), [&](const HandleEntry& entry) {
        return entry.process == process && std::count(types.begin(), types.end(), entry.type);
    });
}

// Read once the count holds still: the last relaunch's threads may still be ending.
int settledHandleCount(DWORD process) {
    int now = launchHandleCount(process);
    waitUntil(
        [&] {
        Sleep(300);
        const int last = std::exchange(now, launchHandleCount(process));
        return now == last;
        },
        3000);
    return now;
}

}  // namespace

void pluginChecks(const Options& options) {
    const std::wstring log = options.plugins + L"\\windows-checks.log";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"CORVEL_TEST_PLUGIN_LOG", log.c_str());
    ChildProgram program;
    WsClient client;
    if (!startAndConnect(options, program, client)) return;

    // Loading opens the editor at the plug-in's size, built into the content window.
    loads(client, options, L"editor");
    HWND editor = waitForEditor(program);
    checkEditor(editor, 400, 300, "first editor");
    const auto content = reinterpret_cast<uintptr_t>(GetWindow(editor, GW_CHILD));
    const std::string parent = "effEditOpen parent=" + std::to_string(content);
    check(editor && readFileText(log).find(parent) != std::string::npos,
          "the plug-in builds its editor into the content window");
    const int idles = linesIn(log, "effEditIdle");
    Sleep(500);
    check(linesIn(log, "effEditIdle") >= idles + 5,
          "the open editor is idled about 30 times a second");

    // Closing the frame keeps the plug-in: showGui opens a new one. Each
    // editor is closed while its window exists (the plug-in logs whether it does).
    const std::string closed = "effEditClose window=open";
    PostMessageW(editor, WM_CLOSE, 0, 0);
    check(waitUntil([&] { return !IsWindow(editor); }, kWindowMs) && linesIn(log, closed) == 1,
          "WM_CLOSE closes the editor, then destroys the frame");
    client.sendText("showGui");
    HWND reopened = waitForEditor(program, editor);
    checkEditor(reopened, 400, 300, "showGui after a close");
    client.sendText("unload");
    check(waitUntil([&] { return linesIn(log, "effClose") > 0; }, kReplyMs) &&
              !IsWindow(reopened) && linesIn(log, closed) == 2,
          "unload closes the editor and destroys its frame");

    // A plug-in that asks for its size while opening, and later from a thread of its own.
    loads(client, options, L"size_request");
    HWND sized = waitForEditor(program, reopened);
    checkEditor(sized, 640, 480, "size-request editor");
    client.sendText("midi 176 20 50|");
    client.sendBinary(std::vector<float>(2 * 1024, 0.0f));
    client.receive(kReplyMs);
    check(sized && waitUntil([&] { return fits(sized, 500, 250); }, kWindowMs),
          "a size request from a plug-in thread resizes the content to 500x250 and fits the frame");

    // A crashed plug-in process leaves no handle of its own behind in the
    // program. Each cycle loads afresh (a third crash within a minute is
    // given up on); counting starts after the first, once whatever the
    // program makes on first use exists. The editor, open at each crash,
    // opens again with each relaunch.
    int handlesBefore = 0;
    for (int cycle = 1; cycle <= 4; ++cycle) {
        loads(client, options, L"abort_in_process_editor");
        if (cycle == 1)
            check(!IsWindow(sized), "loading another plug-in destroys the previous editor");
        client.sendBinary(std::vector<float>(2 * 1024, -999.0f));
        receiveAll(client, {"", "crashed\nexit 3", "ready", "fixedCompensationDelaySamp\n0"},
                   "crash " + std::to_string(cycle) + ": reported and relaunched");
        if (cycle == 1) handlesBefore = settledHandleCount(program.id());
    }
    HWND relaunched = waitForEditor(program);
    const int handlesAfter = settledHandleCount(program.id());
    check(
        handlesBefore > 0 && handlesAfter == handlesBefore,
        "crashes and relaunches leave no process, thread, job, shared memory or pipe handle behind",
        std::to_string(handlesBefore) + " handles before, " + std::to_string(handlesAfter) +
            " after");

    HWND mainWindow = mainWindowOf(program.id());
    PostMessageW(mainWindow, WM_CLOSE, 0, 0);
    checkEndsCleanly(program, "a close request to the main window");
    check(mainWindow && !IsWindow(mainWindow) && !IsWindow(relaunched),
          "no window of the program is left");
    check(client.waitClosed(kReplyMs), "the connection is closed");
    // Loads and the end closed every editor but the four that went down with their process.
    check(relaunched && linesIn(log, closed) == linesIn(log, "effEditOpen") - 4 &&
              !linesIn(log, "effEditClose window=gone"),
          "relaunches reopen the editor; each editor is closed before its window is destroyed");
}
