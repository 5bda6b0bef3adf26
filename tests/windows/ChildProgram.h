// The program under test, started as a child process whose standard output
// and error are read through pipes.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

class ChildProgram {
public:
    ChildProgram() = default;
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // Starts the program with the current environment; false when it could not be started.
    bool start(const std::wstring& executable);
    // Waits for the end of the process; false on timeout.
    bool waitForExit(int timeoutMs, DWORD& exitCode);
    bool running() const;
    // Waits until standard output holds `text`.
    bool waitForOutput(const std::string& text, int timeoutMs);

    std::string output();
    std::string errors();
    DWORD id() const { return info_.dwProcessId; }

private:
    void readPipe(HANDLE pipe, std::string& into);

    PROCESS_INFORMATION info_ = {};
    HANDLE outRead_ = nullptr;
    HANDLE errRead_ = nullptr;
    std::thread outReader_;
    std::thread errReader_;
    std::mutex mutex_;
    std::string out_;
    std::string err_;
};
