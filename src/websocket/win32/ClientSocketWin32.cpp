#include "websocket/ClientSocket.h"

#include <winsock2.h>

#include <civetweb.h>

// The socket the library holds for a connection, from the library's own
// structure: the Windows build compiles the library from source, together
// with this accessor (LibrarySocket.c).
extern "C" SOCKET corvelLibrarySocket(const mg_connection* conn);

std::optional<ClientSocket> ClientSocket::of(const mg_connection* conn) {
    const SOCKET socket = corvelLibrarySocket(conn);
    if (socket == INVALID_SOCKET) return std::nullopt;
    return ClientSocket(static_cast<std::uintptr_t>(socket));
}

long ClientSocket::receive(uint8_t* into, std::size_t capacity, int timeoutMs) {
    const SOCKET socket = static_cast<SOCKET>(handle);
    const int wanted = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    // The library left the socket non-blocking: read first, and wait only
    // when nothing is there, so a block that has arrived costs one call.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int got = recv(socket, reinterpret_cast<char*>(into), wanted, 0);
        if (got > 0) return got;
        if (got == 0) return -1;
        if (WSAGetLastError() != WSAEWOULDBLOCK) return -1;
        if (attempt == 1) return 0;
        WSAPOLLFD watched{socket, POLLRDNORM, 0};
        const int ready = WSAPoll(&watched, 1, timeoutMs);
        if (ready == 0) return 0;
        if (ready < 0) return -1;
    }
    return 0;
}
