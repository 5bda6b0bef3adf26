// The Windows program under test, under Wine or on Windows: started as a
// child of the runner on a free port, its editor frames and plug-in
// processes seen through the window and process lists.
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <filesystem>

#include "CompatProgram.h"
#include "Sockets.h"

namespace compat {

namespace {

// Build-tree paths arrive as Unix paths; Wine shows the Unix root as drive Z:.
std::wstring windowsPath(const std::string& path) {
    std::wstring wide(path.begin(), path.end());
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return wide[0] == L'\\' ? L"Z:" + wide : wide;
}

// A port the system has just found free; its choice also keeps parallel runners apart.
uint16_t freePort() {
    startSockets();
    const SOCKET probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    const bool bound = bind(probe, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
                       getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    closesocket(probe);
    return bound ? ntohs(address.sin_port) : 0;
}

class WindowsProgram : public CompatProgram {
public:
    ~WindowsProgram() override { end(); }

    bool ready(bool fresh) override {
        if (!fresh && running() && connection->isOpen()) return true;
        if (running() && connection->isOpen()) {
            connection->sendText("quit");
            WaitForSingleObject(process.hProcess, 20000);
        }
        end();
        connection = std::make_unique<testing_support::WsClient>();
        const uint16_t port = freePort();
        SetEnvironmentVariableW(L"CORVEL_TEST_PORT", std::to_wstring(port).c_str());
        const std::wstring program = windowsPath(CORVEL_COMPAT_PROGRAM);
        std::wstring commandLine = L"\"" + program + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        return CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                              nullptr, nullptr, &startup, &process) &&
               connection->connect(port, 30000) && connection->receiveText(20000);
    }

    testing_support::WsClient& client() override { return *connection; }

    bool running() override {
        return process.hProcess && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
    }

    std::vector<Frame> editorFrames() override {
        std::vector<Frame> frames;
        std::vector<DWORD> owners = {process.dwProcessId};
        for (const auto& [id, name] : children()) owners.push_back(id);
        for (HWND window = nullptr;
             (window = FindWindowExW(nullptr, window, L"CorvelStudioPlugin", nullptr));) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (!std::count(owners.begin(), owners.end(), owner)) continue;
            HWND content = FindWindowExW(window, nullptr, L"CorvelStudioPluginContent", nullptr);
            RECT area = {};
            if (content) GetClientRect(content, &area);
            frames.push_back({reinterpret_cast<uintptr_t>(window), IsWindowVisible(window) != FALSE,
                              int(area.right), int(area.bottom),
                              content && GetWindow(content, GW_CHILD)});
        }
        return frames;
    }

    void requestClose(const Frame& frame) override {
        PostMessageW(reinterpret_cast<HWND>(frame.id), WM_SYSCOMMAND, SC_CLOSE, 0);
    }

    std::vector<std::string> pluginProcesses() override {
        std::vector<std::string> names;
        for (const auto& [id, name] : children()) names.push_back(name);
        return names;
    }

private:
    std::vector<std::pair<DWORD, std::string>> children() {
        std::vector<std::pair<DWORD, std::string>> found;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more;
             more = Process32NextW(snapshot, &entry))
            if (process.hProcess && entry.th32ParentProcessID == process.dwProcessId)
                found.emplace_back(entry.th32ProcessID,
                                   std::filesystem::path(entry.szExeFile).u8string());
        if (snapshot != INVALID_HANDLE_VALUE) CloseHandle(snapshot);
        return found;
    }

    void end() {
        if (!process.hProcess) return;
        if (running()) TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 10000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        process = {};
    }

    PROCESS_INFORMATION process = {};
    std::unique_ptr<testing_support::WsClient> connection;
};

}  // namespace

std::unique_ptr<CompatProgram> makeCompatProgram() {
    return std::make_unique<WindowsProgram>();
}

// With forward slashes, as the scan lists them.
ModuleSource modulesOf(const std::string& argument) {
    const std::size_t equals = argument.find('=');
    ModuleSource source{argument.substr(0, equals), {}};
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(argument.substr(equals + 1), error))
        if (entry.path().extension() == ".dll")
            source.paths.push_back(entry.path().generic_string());
    std::sort(source.paths.begin(), source.paths.end());
    return source;
}

}  // namespace compat
