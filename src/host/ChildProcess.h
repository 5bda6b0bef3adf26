// The plug-in process as a process: started from the executable beside
// ours, watched for its end, ended by force when it stops answering. Also
// its probe mode, whose standard output we read.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "bridge/SharedRegion.h"

class ChildProcess {
public:
    // Starts the plug-in process executable of that file name, from the
    // program's own folder, with the shared region's handles and the
    // session's settings; commandHandle receives our end of its command
    // pipe. Null when it cannot be started.
    static std::unique_ptr<ChildProcess> start(const std::string& executable,
                                               bridge::SharedRegion& region, uint32_t sampleRate,
                                               uint32_t blockSize, int& commandHandle);
    // Starts that plug-in process executable with --probe modulePath (UTF-8)
    // and its standard output on a pipe that readOutput reads. Null when it
    // cannot be started.
    static std::unique_ptr<ChildProcess> startProbe(const std::string& executable,
                                                    const std::string& modulePath);
    // How long a plug-in process may take to leave once the program is
    // ending: 1 s, so that quit and SIGTERM end the program within 2 s,
    // except under Wine, where leaving alone takes a plug-in process seconds
    // on a loaded machine.
    static int shutdownGraceMs();
    ~ChildProcess();  // ends it by force if it is still there
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Without waiting.
    bool hasEnded();
    // Waits at most timeoutMs for it to end by itself.
    bool waitEnded(int timeoutMs);
    void kill();
    // How it ended: "exit 3", "signal 11", "exception 0xC0000005". Empty
    // while it runs.
    std::string endReason();
    // A probe's: appends what it wrote to text, waiting at most timeoutMs
    // for the first of it. False once its output has ended, which a process
    // that started one of its own holding the pipe may never do.
    bool readOutput(std::string& text, int timeoutMs);

private:
    explicit ChildProcess(long id, long job = 0, long output = -1)
        : id(id), job(job), output(output) {}

    long id;      // the pid; on Windows the process's handle
    long job;     // Windows: the job that ends the process when the program ends
    long output;  // a probe's standard output: a descriptor, on Windows a handle; else -1
    std::mutex statusMutex;
    std::optional<int> status;  // once reaped
};
