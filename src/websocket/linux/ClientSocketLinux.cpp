#include "websocket/ClientSocket.h"

#include <civetweb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "websocket/linux/LoopbackSockets.h"

std::optional<ClientSocket> ClientSocket::of(const mg_connection* conn) {
    const mg_request_info* request = mg_get_request_info(conn);
    if (!request) return std::nullopt;
    const int fd =
        findConnectedSocket(static_cast<uint16_t>(request->server_port), request->remote_addr,
                            static_cast<uint16_t>(request->remote_port));
    if (fd < 0) return std::nullopt;
    return ClientSocket(static_cast<std::uintptr_t>(fd));
}

long ClientSocket::receive(uint8_t* into, std::size_t capacity, int timeoutMs) {
    const int fd = static_cast<int>(handle);
    // Read first, and wait only when nothing is there, so a block that has
    // arrived costs one call.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const ssize_t got = recv(fd, into, capacity, MSG_DONTWAIT);
        if (got > 0) return static_cast<long>(got);
        if (got == 0) return -1;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        if (attempt == 1) return 0;
        pollfd watched{fd, POLLIN, 0};
        const int ready = poll(&watched, 1, timeoutMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) return 0;
        if (ready < 0) return -1;
    }
    return 0;
}
