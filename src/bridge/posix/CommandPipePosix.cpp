#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "bridge/CommandPipe.h"

namespace bridge {

CommandPipe::CommandPipe(int descriptor) : descriptor(descriptor) {}

bool CommandPipe::writeExactly(const void* data, std::size_t size) {
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

CommandPipe::~CommandPipe() {
    if (descriptor >= 0) ::close(descriptor);
}

void CommandPipe::close() {
    // Shut down rather than closed: a reader blocked on it wakes, and the
    // descriptor's number is not reused under it.
    shutdown(descriptor, SHUT_RDWR);
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

}  // namespace bridge
