// The socket of one connection the server library accepted. Once the
// handshake is answered the program reads the connection's frames itself:
// the library's own loop hands the frame handler neither the mask bit nor a
// say in what a frame may allocate before its bytes arrive. The platform
// files find the socket the library holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

struct mg_connection;

class ClientSocket {
public:
    // The connection's socket; nothing when it cannot be found.
    static std::optional<ClientSocket> of(const mg_connection* conn);

    // Reads what has arrived, waiting up to timeoutMs for it: the count of
    // bytes read, 0 when nothing came in time, -1 once the stream has ended
    // or failed. The worker thread of the connection only.
    long receive(uint8_t* into, std::size_t capacity, int timeoutMs);

private:
    explicit ClientSocket(std::uintptr_t handle) : handle(handle) {}

    std::uintptr_t handle;  // a descriptor on Linux, a SOCKET on Windows
};
