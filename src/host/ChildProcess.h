// The plug-in process as a process: started from the executable beside
// ours, watched for its end, ended by force when it stops answering.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class ChildProcess {
public:
    // Starts corvel-plugin-host with the shared region's handle and the
    // session's settings; commandHandle receives our end of its command pipe.
    // Null when it cannot be started.
    static std::unique_ptr<ChildProcess> start(int regionHandle, uint32_t sampleRate,
                                               uint32_t blockSize, int& commandHandle);
    ~ChildProcess();  // ends it by force if it is still there
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Without waiting.
    bool hasEnded();
    // Waits at most timeoutMs for it to end by itself.
    bool waitEnded(int timeoutMs);
    void kill();
    // How it ended: "exit 3", "signal 11". Empty while it runs.
    std::string endReason();

private:
    explicit ChildProcess(long id) : id(id) {}

    long id;
    std::mutex statusMutex;
    std::optional<int> status;  // once reaped
};
