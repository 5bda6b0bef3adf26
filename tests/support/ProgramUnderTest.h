// Starts the real program on a free loopback port and watches what it prints.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace testing_support {

class ProgramUnderTest {
public:
    // Extra environment on top of the test's own; a value of "" unsets.
    explicit ProgramUnderTest(std::map<std::string, std::string> environment = {},
                              std::optional<uint16_t> port = std::nullopt);
    ~ProgramUnderTest();
    ProgramUnderTest(const ProgramUnderTest&) = delete;
    ProgramUnderTest& operator=(const ProgramUnderTest&) = delete;

    // Another build of the program to start instead (before start()).
    void runInstead(std::string commandLine) { command = std::move(commandLine); }
    // Starts it and waits until it listens (or has ended).
    bool start(int timeoutMs = 20000);
    uint16_t port() const { return listenPort; }
    long processId() const { return pid; }

    // Standard output and error so far, and waiting for a text in the output.
    std::string output() const { return read("stdout"); }
    std::string errors() const { return read("stderr"); }
    bool waitForOutput(const std::string& text, int timeoutMs = 5000) const;

    void signal(int number);
    // Resident memory of the process in KiB, 0 when it cannot be read.
    long residentKiB() const;
    // Exit status, or nothing if it is still running after the timeout.
    std::optional<int> waitExit(int timeoutMs = 10000);
    bool running();

    // The log that the test plug-ins write.
    std::string readPluginLog() const { return read("plugin-log"); }
    void clearPluginLog() const;

    // False when the program under test is the Windows build under Wine
    // (CORVEL_PROGRAM set, for example "wine /path/corvel-vst-remote.exe"):
    // there it always has a display, and signals do not end it cleanly.
    static bool isNative();

private:
    std::string read(const std::string& name) const;
    std::map<std::string, std::string> extraEnvironment;
    std::string command;  // the program and its arguments, split at spaces
    uint16_t listenPort;
    std::string folder;  // its standard output and error, and the plug-in log
    pid_t pid = -1;
    std::optional<int> exitStatus;
};

// A test plug-in's path, given its name without the file ending; the
// folder and ending can be pointed at the Windows build's plug-ins
// (CORVEL_PLUGIN_DIR, CORVEL_PLUGIN_SUFFIX).
std::string testPluginPath(const std::string& name);

}  // namespace testing_support
