#include "websocket/linux/LoopbackSockets.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

bool addressOf(int fd, bool peer, sockaddr_in& address) {
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    const int result = peer ? getpeername(fd, raw, &length) : getsockname(fd, raw, &length);
    return result == 0 && address.sin_family == AF_INET;
}

// Calls found(fd) for each of this process's IPv4 sockets bound to
// 127.0.0.1:port, until it returns true; that descriptor, or -1. A few
// hundred descriptors take well under a millisecond.
template <typename Found>
int searchBoundTo(uint16_t port, Found found) {
    DIR* folder = opendir("/proc/self/fd");
    if (!folder) return -1;
    const int own = dirfd(folder);
    int match = -1;
    while (const dirent* entry = readdir(folder)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == own) continue;
        sockaddr_in local{};
        if (!addressOf(static_cast<int>(fd), false, local)) continue;
        if (ntohs(local.sin_port) != port || ntohl(local.sin_addr.s_addr) != INADDR_LOOPBACK)
            continue;
        if (found(static_cast<int>(fd))) {
            match = static_cast<int>(fd);
            break;
        }
    }
    closedir(folder);
    return match;
}

}  // namespace

int findListeningSocket(uint16_t port) {
    return searchBoundTo(port, [](int fd) {
        int listening = 0;
        socklen_t length = sizeof listening;
        return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening;
    });
}

int findConnectedSocket(uint16_t port, const char* remoteAddress, uint16_t remotePort) {
    in_addr wanted{};
    if (inet_pton(AF_INET, remoteAddress, &wanted) != 1) return -1;
    return searchBoundTo(port, [&](int fd) {
        sockaddr_in remote{};
        return addressOf(fd, true, remote) && ntohs(remote.sin_port) == remotePort &&
               remote.sin_addr.s_addr == wanted.s_addr;
    });
}

void endSilentConnections(uint16_t port) {
    searchBoundTo(port, [](int fd) {
        sockaddr_in remote{};
        tcp_info info{};
        socklen_t length = sizeof info;
        // Held back until it spoke, a client's connection has received
        // something by the time it is accepted, unless the listen backlog
        // overflowed (SilentSockets.h); the listener has no peer.
        if (addressOf(fd, true, remote) &&
            getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 &&
            length >= offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received &&
            info.tcpi_bytes_received == 0)
            shutdown(fd, SHUT_RDWR);
        return false;
    });
}
