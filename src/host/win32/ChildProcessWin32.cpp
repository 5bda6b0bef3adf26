// The plug-in process on Windows: started with an explicit list of the
// handles it inherits, and put in a job of its own that kills it when the
// job's last handle (ours) closes, so it never outlives the program.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bridge/LaunchContract.h"
#include "host/ChildProcess.h"

namespace {

// The executable's file name is plain ASCII (PluginHostChoice).
std::wstring pluginHostPath(const std::string& executable) {
    const std::wstring name(executable.begin(), executable.end());
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return name;
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash)) + L"\\" +
           name;
}

// Our end of the command pipe, and the plug-in process's (inheritable).
// Both for overlapped use, as CommandPipe expects; one instance only, so
// nobody else can connect to the name between its creation and ours.
bool openCommandPipe(HANDLE& ours, HANDLE& theirs) {
    wchar_t name[96];
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    std::swprintf(name, sizeof name / sizeof name[0],
                  L"\\\\.\\pipe\\corvel-plugin-host-%lu-%lu-%lld", GetCurrentProcessId(),
                  GetCurrentThreadId(), static_cast<long long>(now.QuadPart));
    ours = CreateNamedPipeW(
        name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 64 * 1024,
        64 * 1024, 0, nullptr);
    if (ours == INVALID_HANDLE_VALUE) return false;
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    theirs = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, &inherited, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
    if (theirs == INVALID_HANDLE_VALUE) {
        CloseHandle(ours);
        return false;
    }
    // The client end is open, so the connection is already made: nothing
    // to wait for.
    return true;
}

HANDLE killingJob() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// An inheritable copy of one of our standard handles, or null when there is
// none (started from the desktop): the plug-in process writes where we do.
HANDLE inheritableCopy(DWORD standard) {
    HANDLE original = GetStdHandle(standard);
    HANDLE copy = nullptr;
    if (original && original != INVALID_HANDLE_VALUE)
        DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), &copy, 0, TRUE,
                        DUPLICATE_SAME_ACCESS);
    return copy;
}

// Starts the process suspended, with exactly these handles inherited.
bool createSuspended(const std::wstring& program, std::wstring commandLine,
                     std::vector<HANDLE> inherited, HANDLE output, HANDLE errors,
                     PROCESS_INFORMATION& started) {
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<char> listMemory(listSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listMemory.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &listSize)) return false;
    bool created = false;
    if (UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                  inherited.data(), inherited.size() * sizeof(HANDLE), nullptr,
                                  nullptr)) {
        STARTUPINFOEXW startup = {};
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdOutput = output;
        startup.StartupInfo.hStdError = errors;
        startup.lpAttributeList = attributes;
        created = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                 EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED | CREATE_NO_WINDOW,
                                 nullptr, nullptr, &startup.StartupInfo, &started);
    }
    DeleteProcThreadAttributeList(attributes);
    return created;
}

// NTSTATUS codes of errors: what an unhandled exception leaves as exit code.
constexpr DWORD firstErrorStatus = 0xC0000000;
// What we end a process with: it is only ever reported when it went quiet,
// and then the silence is the reason.
constexpr UINT killedExitCode = 1;

// Starts the process in a job of its own before it runs a single
// instruction, so none of it escapes. The job, with process set to the
// process's handle; null when it could not be started.
HANDLE startInJob(const std::wstring& program, const std::wstring& commandLine,
                  const std::vector<HANDLE>& inherited, HANDLE output, HANDLE errors,
                  HANDLE& process) {
    HANDLE job = killingJob();
    if (!job) return nullptr;
    PROCESS_INFORMATION started = {};
    if (!createSuspended(program, commandLine, inherited, output, errors, started)) {
        CloseHandle(job);
        return nullptr;
    }
    if (!AssignProcessToJobObject(job, started.hProcess)) {
        TerminateProcess(started.hProcess, killedExitCode);
        WaitForSingleObject(started.hProcess, INFINITE);
        CloseHandle(started.hProcess);
        CloseHandle(started.hThread);
        CloseHandle(job);
        return nullptr;
    }
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    process = started.hProcess;
    return job;
}

std::optional<std::wstring> wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring converted(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        converted.data(), length);
    return converted;
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::start(const std::string& executable,
                                                  bridge::SharedRegion& region, uint32_t sampleRate,
                                                  uint32_t blockSize, int& commandHandle) {
    HANDLE ours = nullptr;
    HANDLE theirs = nullptr;
    if (!openCommandPipe(ours, theirs)) return nullptr;
    HANDLE output = inheritableCopy(STD_OUTPUT_HANDLE);
    HANDLE errors = inheritableCopy(STD_ERROR_HANDLE);

    bridge::SharedBlock& block = region.block();
    HANDLE section = LongToHandle(region.handle());
    std::vector<HANDLE> inherited = {theirs, section, ULongToHandle(block.request.event),
                                     ULongToHandle(block.reply.event)};
    if (output) inherited.push_back(output);
    if (errors) inherited.push_back(errors);

    const std::wstring program = pluginHostPath(executable);
    bridge::LaunchArguments launch;
    launch.programId = GetCurrentProcessId();
    launch.sampleRate = sampleRate;
    launch.blockSize = blockSize;
    launch.commandHandle = HandleToLong(theirs);
    launch.regionHandle = HandleToLong(section);
    std::wstring commandLine = L"\"" + program + L"\"";
    for (const std::string& word : bridge::launchWords(launch))
        commandLine += L" " + std::wstring(word.begin(), word.end());  // digits only
    HANDLE process = nullptr;
    HANDLE job = startInJob(program, commandLine, inherited, output, errors, process);
    for (HANDLE copy : {theirs, output, errors})
        if (copy) CloseHandle(copy);
    if (!job) {
        CloseHandle(ours);
        return nullptr;
    }
    commandHandle = HandleToLong(ours);
    return std::unique_ptr<ChildProcess>(
        new ChildProcess(HandleToLong(process), HandleToLong(job)));
}

std::unique_ptr<ChildProcess> ChildProcess::startProbe(const std::string& executable,
                                                       const std::string& modulePath) {
    const std::optional<std::wstring> module = wide(modulePath);
    if (!module) return nullptr;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return nullptr;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE errors = inheritableCopy(STD_ERROR_HANDLE);
    std::vector<HANDLE> inherited = {writeEnd};
    if (errors) inherited.push_back(errors);

    const std::wstring program = pluginHostPath(executable);
    // Paths hold no quote, and end in a name, never a backslash that would
    // escape the closing quote.
    const std::wstring commandLine = L"\"" + program + L"\" --probe \"" + *module + L"\"";
    HANDLE process = nullptr;
    HANDLE job = startInJob(program, commandLine, inherited, writeEnd, errors, process);
    // Ours closed at once, so the output ends when the probe's copy does.
    CloseHandle(writeEnd);
    if (errors) CloseHandle(errors);
    if (!job) {
        CloseHandle(readEnd);
        return nullptr;
    }
    return std::unique_ptr<ChildProcess>(
        new ChildProcess(HandleToLong(process), HandleToLong(job), HandleToLong(readEnd)));
}

int ChildProcess::shutdownGraceMs() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
    return wine ? 5000 : 1000;
}

ChildProcess::~ChildProcess() {
    if (output != -1) CloseHandle(LongToHandle(output));
    if (!hasEnded()) {
        kill();
        waitEnded(-1);
    }
    CloseHandle(LongToHandle(id));
    CloseHandle(LongToHandle(job));
}

bool ChildProcess::hasEnded() {
    std::lock_guard<std::mutex> lock(statusMutex);
    if (status) return true;
    HANDLE process = LongToHandle(id);
    DWORD code = 0;
    if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &code))
        return false;
    status = static_cast<int>(code);
    return true;
}

bool ChildProcess::waitEnded(int timeoutMs) {
    WaitForSingleObject(LongToHandle(id), timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    return hasEnded();
}

void ChildProcess::kill() {
    std::lock_guard<std::mutex> lock(statusMutex);
    if (!status) TerminateProcess(LongToHandle(id), killedExitCode);
}

std::string ChildProcess::endReason() {
    std::lock_guard<std::mutex> lock(statusMutex);
    if (!status) return {};
    const auto code = static_cast<DWORD>(*status);
    if (code < firstErrorStatus) return "exit " + std::to_string(code);
    char text[32];
    std::snprintf(text, sizeof text, "exception 0x%08lX", static_cast<unsigned long>(code));
    return text;
}

bool ChildProcess::readOutput(std::string& text, int timeoutMs) {
    if (output == -1) return false;
    HANDLE pipe = LongToHandle(output);
    // Anonymous pipes cannot be waited on; a probe writes a few lines, so
    // looking every few milliseconds costs nothing.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;  // ended
        if (available > 0) {
            char buffer[16384];
            DWORD count = 0;
            if (!ReadFile(pipe, buffer, available < sizeof buffer ? available : sizeof buffer,
                          &count, nullptr))
                return false;
            text.append(buffer, count);
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
