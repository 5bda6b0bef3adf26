#include "bridge/CommandPipe.h"

#include <chrono>

namespace bridge {

namespace {

// A length past this is a broken or hostile peer: the largest honest
// message is a state of the largest binary message a client may send.
constexpr uint32_t maxPayload = (256u << 20) + 4096;

}  // namespace

bool CommandPipe::send(uint32_t kind, const void* data, std::size_t size) {
    const uint32_t header[2] = {kind, static_cast<uint32_t>(size)};
    std::lock_guard<std::mutex> lock(sendMutex);
    return writeExactly(header, sizeof header) && (size == 0 || writeExactly(data, size));
}

CommandPipe::Read CommandPipe::readExactly(void* target, std::size_t size, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto* bytes = static_cast<char*>(target);
    while (size > 0) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return Read::timedOut;
            wait = static_cast<int>(left.count());
        }
        const long got = readSome(bytes, size, wait);
        if (got < 0) return Read::closed;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return Read::message;
}

CommandPipe::Read CommandPipe::receive(PipeMessage& into, int timeoutMs) {
    uint32_t header[2] = {};
    const Read head = readExactly(header, sizeof header, timeoutMs);
    if (head != Read::message) return head;
    if (header[1] > maxPayload) return Read::refused;
    into.kind = header[0];
    into.payload.resize(header[1]);
    if (header[1] == 0) return Read::message;
    // Once a message has begun, the rest of it follows at once.
    const Read body =
        readExactly(into.payload.data(), header[1], timeoutMs < 0 ? -1 : timeoutMs + 1000);
    return body == Read::timedOut ? Read::closed : body;
}

}  // namespace bridge
