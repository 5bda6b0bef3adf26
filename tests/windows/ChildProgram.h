// The program under test as a child process. It writes to this process's
// own output, so its diagnostics show among the checks' lines.
#pragma once

#include <windows.h>

#include <string>

class ChildProgram {
public:
    ChildProgram() = default;
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;
    ~ChildProgram() {
        if (!info_.hProcess) return;
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 10000);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }

    bool start(std::wstring executable) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::wstring commandLine = L"\"" + executable + L"\"";
        return CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                              nullptr, nullptr, &startup, &info_);
    }

    // Waits for its end; false on timeout.
    bool waitForExit(int timeoutMs, DWORD& exitCode) {
        return info_.hProcess &&
               WaitForSingleObject(info_.hProcess, static_cast<DWORD>(timeoutMs)) ==
                   WAIT_OBJECT_0 &&
               GetExitCodeProcess(info_.hProcess, &exitCode);
    }

    DWORD id() const { return info_.dwProcessId; }

private:
    PROCESS_INFORMATION info_ = {};
};
