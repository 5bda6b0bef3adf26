// The few socket calls the test client needs, on POSIX and on Winsock, so
// that the Linux tests and the Windows checker share one client.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
constexpr int MSG_NOSIGNAL = 0;
// One socket at a time, through select(), as the program's own server
// waits on Windows.
inline int poll(pollfd* watched, unsigned long, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(watched->fd, &readable);
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = select(0, &readable, nullptr, nullptr, &wait);
    watched->revents = ready > 0 ? POLLIN : 0;
    return ready;
}
inline int closeSocket(SOCKET fd) {
    return closesocket(fd);
}
inline void pauseMs(int ms) {
    Sleep(ms);
}
// Winsock must be started once per process; the first socket does it.
inline void startSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
inline int closeSocket(int fd) {
    return close(fd);
}
inline void pauseMs(int ms) {
    usleep(ms * 1000);
}
inline void startSockets() {}
#endif

#include <cstdint>

// A TCP connection to the loopback port without Nagle's delay; -1 when refused.
inline int connectLoopback(uint16_t port) {
    startSockets();
    const int fd = static_cast<int>(socket(AF_INET, SOCK_STREAM, 0));
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    closeSocket(fd);
    return -1;
}
