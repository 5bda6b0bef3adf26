#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

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

long CommandPipe::readSome(void* target, std::size_t size, int waitMs) {
    pollfd watched{descriptor, POLLIN, 0};
    const int ready = poll(&watched, 1, waitMs);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    const ssize_t got = recv(descriptor, target, size, 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return 0;
    return got <= 0 ? -1 : static_cast<long>(got);
}

}  // namespace bridge
