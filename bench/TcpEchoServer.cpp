// The floor under any WebSocket round trip: plain TCP on loopback, every
// byte sent straight back, TCP_NODELAY, no framing, one thread a client.
//
//   corvel-bench-tcp-echo <port>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "PortArgument.h"

namespace {

void echo(int fd) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::vector<char> buffer(1 << 17);
    for (;;) {
        const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
        if (got <= 0) break;
        if (send(fd, buffer.data(), static_cast<size_t>(got), MSG_NOSIGNAL) != got) break;
    }
    close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    const long port = portArgument(argc, argv);
    if (!port) return 2;
    std::signal(SIGPIPE, SIG_IGN);
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0) {
        std::perror("cannot listen");
        return 1;
    }
    std::printf("tcp echo on 127.0.0.1:%ld\n", port);
    std::fflush(stdout);
    for (;;) {
        const int client = accept(listener, nullptr, nullptr);
        if (client >= 0) std::thread(echo, client).detach();
    }
}
