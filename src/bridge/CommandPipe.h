// The command pipe between the program and one plug-in process. Every
// message is a kind, a length and that many bytes (PluginMessages.h gives
// them their types); either side may send from any thread, one side reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace bridge {

struct PipeMessage {
    uint32_t kind = 0;
    std::string payload;
};

class CommandPipe {
public:
    // refused: the peer announced a message larger than any it may send.
    enum class Read { message, closed, timedOut, refused };

    // Takes over the descriptor (on Windows: a handle to a pipe opened for
    // overlapped use).
    explicit CommandPipe(int descriptor);
    ~CommandPipe();
    CommandPipe(const CommandPipe&) = delete;
    CommandPipe& operator=(const CommandPipe&) = delete;

    bool send(uint32_t kind, const void* data = nullptr, std::size_t size = 0);
    // Waits at most timeoutMs (forever when negative) for one whole message.
    Read receive(PipeMessage& into, int timeoutMs);
    // Ends the pipe: the other side reads its end.
    void close();

private:
    Read readExactly(void* target, std::size_t size, int timeoutMs);
    // Per platform. readSome waits at most waitMs (forever when negative)
    // and returns the bytes read, 0 when none came, -1 when the pipe ended.
    bool writeExactly(const void* data, std::size_t size);
    long readSome(void* target, std::size_t size, int waitMs);

    int descriptor;
    std::mutex sendMutex;
};

}  // namespace bridge
