#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "bridge/CommandPipe.h"

namespace bridge {

namespace {

// A length past this is a broken peer, not a plug-in state.
constexpr uint32_t maxPayload = 1u << 30;

bool writeAll(int descriptor, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::send(descriptor, bytes, size, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

CommandPipe::CommandPipe(int descriptor) : descriptor(descriptor) {}

CommandPipe::~CommandPipe() {
    if (descriptor >= 0) ::close(descriptor);
}

void CommandPipe::close() {
    // Shut down rather than closed: a reader blocked on it wakes, and the
    // descriptor's number is not reused under it.
    shutdown(descriptor, SHUT_RDWR);
}

bool CommandPipe::send(uint32_t kind, const void* data, std::size_t size) {
    const uint32_t header[2] = {kind, static_cast<uint32_t>(size)};
    std::lock_guard<std::mutex> lock(sendMutex);
    return writeAll(descriptor, header, sizeof header) && (size == 0 || writeAll(descriptor, data, size));
}

CommandPipe::Read CommandPipe::readExactly(void* target, std::size_t size, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto* bytes = static_cast<char*>(target);
    while (size > 0) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return Read::timedOut;
            wait = static_cast<int>(left.count());
        }
        pollfd watched{descriptor, POLLIN, 0};
        const int ready = poll(&watched, 1, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Read::closed;
        if (ready == 0) continue;
        const ssize_t got = recv(descriptor, bytes, size, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) return Read::closed;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return Read::message;
}

CommandPipe::Read CommandPipe::receive(PipeMessage& into, int timeoutMs) {
    uint32_t header[2] = {};
    const Read head = readExactly(header, sizeof header, timeoutMs);
    if (head != Read::message) return head;
    if (header[1] > maxPayload) return Read::closed;
    into.kind = header[0];
    into.payload.resize(header[1]);
    if (header[1] == 0) return Read::message;
    // Once a message has begun, the rest of it follows at once.
    const Read body = readExactly(into.payload.data(), header[1], timeoutMs < 0 ? -1 : timeoutMs + 1000);
    return body == Read::timedOut ? Read::closed : body;
}

}  // namespace bridge
