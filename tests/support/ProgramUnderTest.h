// Starts the real program on a free loopback port and watches what it prints.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace testing_support {

class ProgramUnderTest {
public:
    // Extra environment on top of the test's own; a value of "" unsets.
    explicit ProgramUnderTest(std::map<std::string, std::string> environment = {},
                              std::optional<uint16_t> port = std::nullopt);
    ~ProgramUnderTest();
    ProgramUnderTest(const ProgramUnderTest&) = delete;
    ProgramUnderTest& operator=(const ProgramUnderTest&) = delete;

    // Starts it and waits until it listens (or has ended).
    bool start(int timeoutMs = 20000);
    uint16_t port() const { return listenPort; }
    long processId() const { return pid; }

    // Standard output so far, and waiting for a text in it.
    std::string output();
    std::string errors();
    bool waitForOutput(const std::string& text, int timeoutMs = 5000);
    // Number of times a line appears in standard output.
    int countLines(const std::string& line);

    void signal(int number);
    // Resident memory of the process in KiB, 0 when it cannot be read.
    long residentKiB() const;
    // Exit status, or nothing if it is still running after the timeout.
    std::optional<int> waitExit(int timeoutMs = 10000);
    bool running();

    // The path of the log that the test plug-ins write.
    const std::string& pluginLog() const { return logPath; }
    std::string readPluginLog() const;
    void clearPluginLog() const;

    static uint16_t freePort();
    // The program: CORVEL_PROGRAM from the environment when set (for example
    // "wine /path/corvel-vst-remote.exe"), else the build's executable.
    static std::string command();
    // False when the program under test is the Windows build under Wine:
    // there it always has a display, and signals do not end it cleanly.
    static bool isNative();

private:
    void readStream(int fd, std::string& into);

    std::map<std::string, std::string> extraEnvironment;
    uint16_t listenPort;
    std::string logPath;
    pid_t pid = -1;
    std::optional<int> exitStatus;
    std::mutex outputMutex;
    std::condition_variable outputChanged;
    std::string stdoutText;
    std::string stderrText;
    std::atomic<bool> stopReading{false};
    std::thread stdoutReader;
    std::thread stderrReader;
};

// A test plug-in's path, given its name without the file ending; the
// folder and ending can be pointed at the Windows build's plug-ins.
std::string testPluginPath(const std::string& name);
std::string testPluginSuffix();

}  // namespace testing_support
