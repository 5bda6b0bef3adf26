#include "CheckSupport.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {
int passed = 0;
int failed = 0;
}  // namespace

void check(bool ok, const std::string& name, const std::string& detail) {
    ++(ok ? passed : failed);
    std::printf("%s %s%s%s\n", ok ? "PASS" : "FAIL", name.c_str(), ok || detail.empty() ? "" : ": ",
                ok ? "" : detail.c_str());
    std::fflush(stdout);
}

int checksResult() {
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}

std::string narrow(const std::wstring& wide) {
    return std::filesystem::path(wide).u8string();
}

std::wstring windowsPath(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path[0] == L'\\' ? L"Z:" + path : path;
}

std::string readFileText(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::wstring textOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

std::vector<HWND> topWindows(DWORD process, const std::wstring& className) {
    std::vector<DWORD> owners = {process};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == process) owners.push_back(entry.th32ProcessID);
    if (snapshot != INVALID_HANDLE_VALUE) CloseHandle(snapshot);
    std::vector<HWND> found;
    for (HWND window = nullptr;
         (window = FindWindowExW(nullptr, window, className.c_str(), nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (std::count(owners.begin(), owners.end(), owner)) found.push_back(window);
    }
    return found;
}

HWND waitForTopWindow(DWORD process, const std::wstring& className, int timeoutMs, HWND other) {
    HWND found = nullptr;
    waitUntil(
        [&] {
        for (HWND window : topWindows(process, className))
            if (window != other && IsWindowVisible(window)) found = window;
        return found != nullptr;
        },
        timeoutMs);
    return found;
}

HWND mainWindowOf(DWORD process) {
    const std::vector<HWND> found = topWindows(process, L"VST2HOST");
    return found.size() == 1 ? found[0] : nullptr;
}

bool startAndConnect(const Options& options, ChildProgram& program, WsClient& client) {
    SetEnvironmentVariableW(L"CORVEL_TEST_PORT", std::to_wstring(options.port).c_str());
    const bool connected = program.start(options.program) &&
                           client.connect(options.port, kStartMs) && client.receiveText(kReplyMs);
    check(connected,
          "the program starts and greets a client on port " + std::to_string(options.port),
          "error " + std::to_string(GetLastError()));
    return connected;
}

void receiveAll(WsClient& client, const std::vector<std::string>& expected,
                const std::string& name) {
    std::string got;
    bool same = true;
    for (const std::string& want : expected) {
        const auto message = client.receive(kReplyMs);
        same = same && message && message->payload == want;
        got += message ? "[" + message->payload + "]" : "[nothing]";
    }
    check(same, name, got);
}

void checkEndsCleanly(ChildProgram& program, const std::string& name) {
    DWORD code = 99;
    const bool ended = program.waitForExit(kStartMs, code);
    check(ended && code == 0, name + " ends the program with status 0",
          ended ? "status " + std::to_string(code) : "still running");
}
