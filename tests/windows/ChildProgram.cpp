#include "ChildProgram.h"

#include <chrono>
#include <vector>

ChildProgram::~ChildProgram() {
    if (info_.hProcess) {
        if (running()) TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 10000);
    }
    if (outReader_.joinable()) outReader_.join();
    if (errReader_.joinable()) errReader_.join();
    if (outRead_) CloseHandle(outRead_);
    if (errRead_) CloseHandle(errRead_);
    if (info_.hThread) CloseHandle(info_.hThread);
    if (info_.hProcess) CloseHandle(info_.hProcess);
}

bool ChildProgram::start(const std::wstring& executable) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outWrite = nullptr;
    HANDLE errWrite = nullptr;
    if (!CreatePipe(&outRead_, &outWrite, &inherit, 0) || !CreatePipe(&errRead_, &errWrite, &inherit, 0))
        return false;
    SetHandleInformation(outRead_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead_, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    std::wstring commandLine = L"\"" + executable + L"\"";
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    const BOOL started = CreateProcessW(executable.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &info_);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (!started) {
        info_ = {};
        return false;
    }
    outReader_ = std::thread([this] { readPipe(outRead_, out_); });
    errReader_ = std::thread([this] { readPipe(errRead_, err_); });
    return true;
}

void ChildProgram::readPipe(HANDLE pipe, std::string& into) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        into.append(buffer, got);
    }
}

bool ChildProgram::waitForExit(int timeoutMs, DWORD& exitCode) {
    if (!info_.hProcess) return false;
    if (WaitForSingleObject(info_.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(info_.hProcess, &exitCode);
    // The pipes close with the process; let the readers take the last bytes.
    if (outReader_.joinable()) outReader_.join();
    if (errReader_.joinable()) errReader_.join();
    return true;
}

bool ChildProgram::running() const {
    return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool ChildProgram::waitForOutput(const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        if (output().find(text) != std::string::npos) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        Sleep(20);
    }
}

std::string ChildProgram::output() {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
}

std::string ChildProgram::errors() {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
}
