#include "CheckSupport.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

// ---- reporting --------------------------------------------------------------

namespace {
int passed = 0;
int failed = 0;
}  // namespace

int passedChecks() { return passed; }
int failedChecks() { return failed; }

void check(bool ok, const std::string& name, const std::string& detail) {
    if (ok) {
        ++passed;
        std::printf("PASS %s\n", name.c_str());
    } else {
        ++failed;
        std::printf("FAIL %s%s%s\n", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    }
    std::fflush(stdout);
}

std::string narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                        nullptr, nullptr);
    return text;
}

std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::wstring windowsPath(const std::string& path) {
    std::string converted = path;
    if (!converted.empty() && converted[0] == '/') converted = "Z:" + converted;
    std::replace(converted.begin(), converted.end(), '/', '\\');
    return widen(converted);
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        Sleep(20);
    }
}

// ---- windows of another process -----------------------------------------------

std::wstring classOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring textOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

namespace {

std::vector<DWORD> processAndItsChildren(DWORD process) {
    std::vector<DWORD> family{process};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return family;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == process) family.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return family;
}

}  // namespace

std::vector<HWND> topWindows(DWORD process, const std::wstring& className) {
    struct Search {
        std::vector<DWORD> owners;
        std::wstring className;
        std::vector<HWND> found;
    } search{processAndItsChildren(process), className, {}};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (std::find(s->owners.begin(), s->owners.end(), owner) != s->owners.end() &&
                classOf(window) == s->className)
                s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Counted in the system's handle table, which Wine fills in where it
// leaves GetProcessHandleCount at 0.
int handleCountOf(DWORD process) {
    struct HandleEntry {
        PVOID object;
        ULONG_PTR process;
        ULONG_PTR handle;
        ULONG access;
        USHORT creatorBackTrace;
        USHORT type;
        ULONG attributes;
        ULONG reserved;
    };
    struct HandleTable {
        ULONG_PTR count;
        ULONG_PTR reserved;
        HandleEntry entries[1];
    };
    constexpr auto extendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
    constexpr NTSTATUS tooSmall = static_cast<NTSTATUS>(0xC0000004);
    std::vector<char> table(1 << 20);
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(extendedHandleInformation, table.data(),
                                              static_cast<ULONG>(table.size()), nullptr)) == tooSmall)
        table.resize(table.size() * 2);
    if (status != 0) return -1;
    const auto* handles = reinterpret_cast<const HandleTable*>(table.data());
    int count = 0;
    for (ULONG_PTR i = 0; i < handles->count; ++i) count += handles->entries[i].process == process;
    return count;
}

HWND waitForTopWindow(DWORD process, const std::wstring& className, int timeoutMs) {
    HWND found = nullptr;
    waitUntil(
        [&] {
            for (HWND window : topWindows(process, className)) {
                if (IsWindowVisible(window)) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

std::vector<std::wstring> childTexts(HWND parent) {
    std::vector<std::wstring> texts;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        texts.push_back(textOf(child));
    return texts;
}

SIZE clientSize(HWND window) {
    RECT rect = {};
    GetClientRect(window, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

SIZE outerSize(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

std::string sizeText(SIZE size) {
    return std::to_string(size.cx) + "x" + std::to_string(size.cy);
}

// ---- options -------------------------------------------------------------------

std::wstring pluginPath(const Options& options, const char* kind) {
    return windowsPath(options.plugins + "/test_" + kind + ".dll");
}

bool startAndConnect(const Options& options, ChildProgram& program, WsClient& client, const std::string& label) {
    SetEnvironmentVariableW(L"CORVEL_TEST_PORT", std::to_wstring(options.port).c_str());
    if (!program.start(options.program)) {
        check(false, label + ": program starts", "CreateProcessW failed, error " + std::to_string(GetLastError()));
        return false;
    }
    const bool connected = client.connect(options.port, kStartMs);
    check(connected, label + ": program accepts a WebSocket client on 127.0.0.1:" + std::to_string(options.port),
          "stderr: " + program.errors());
    return connected;
}

bool receiveText(WsClient& client, const std::string& expected, const std::string& name) {
    const auto message = client.receiveText(kReplyMs);
    check(message == expected, name, "got " + message.value_or("no text"));
    return message == expected;
}

void checkEndsCleanly(ChildProgram& program, const std::string& name) {
    DWORD code = 99;
    const bool ended = program.waitForExit(kStartMs, code);
    check(ended && code == 0, name + " ends the program with status 0",
          ended ? "status " + std::to_string(code) : "still running");
}

std::string readFileText(const std::wstring& path) {
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    return text;
}

std::vector<HWND> wineTrayIcons() {
    std::vector<HWND> icons;
    for (HWND tray = FindWindowExW(nullptr, nullptr, L"__winex11_standalone_tray", nullptr); tray;
         tray = FindWindowExW(nullptr, tray, L"__winex11_standalone_tray", nullptr)) {
        for (HWND icon = FindWindowExW(tray, nullptr, L"__winex11_tray_icon", nullptr); icon;
             icon = FindWindowExW(tray, icon, L"__winex11_tray_icon", nullptr))
            icons.push_back(icon);
    }
    return icons;
}
