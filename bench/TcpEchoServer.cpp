// The floor under any WebSocket round trip: plain TCP on loopback, every
// byte sent straight back, TCP_NODELAY, no framing, one thread a client.
// With --handoff, every piece received is first handed to a second process
// and back (HandoffArea.h): the least a round trip through a plug-in
// process can cost, with nothing of WebSocket or of the program in it.
//
//   corvel-bench-tcp-echo <port> [--handoff]
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "HandoffArea.h"
#include "PortArgument.h"

namespace {

struct Partner {
    HandoffArea* area = nullptr;  // null: no hand-off
    pid_t pid = -1;
    std::mutex* turn = nullptr;  // one hand-off at a time, whatever the clients
};

void echo(int fd, Partner partner) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (partner.area) keepPartnerBeside(partner.pid);
    std::vector<char> buffer(1 << 17);
    for (;;) {
        const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
        if (got <= 0) break;
        if (partner.area) {
            std::lock_guard<std::mutex> lock(*partner.turn);
            handOff(*partner.area);
        }
        if (send(fd, buffer.data(), static_cast<size_t>(got), MSG_NOSIGNAL) != got) break;
    }
    close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    const bool handoff = argc == 3 && std::strcmp(argv[2], "--handoff") == 0;
    const long port = portArgument(handoff ? 2 : argc, argv);
    if (!port) return 2;
    std::signal(SIGPIPE, SIG_IGN);
    std::mutex handoffTurn;  // main never returns: it outlives every client's thread
    Partner partner;
    if (handoff) {
        partner.turn = &handoffTurn;
        void* memory = mmap(nullptr, sizeof(HandoffArea), PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            std::perror("cannot map the hand-off area");
            return 1;
        }
        partner.area = static_cast<HandoffArea*>(memory);
        partner.pid = startHandoffPartner(*partner.area);
        if (partner.pid < 0) {
            std::perror("fork");
            return 1;
        }
    }
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
        if (client >= 0) std::thread(echo, client, partner).detach();
    }
}
