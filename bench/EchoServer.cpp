// The floor of the stack: a bare WebSocket echo on the same library, with the
// host's server options and the same handler shape (join frames, then reply
// with one write), so the host's overhead can be measured against it.
//
//   corvel-bench-echo <port>
#include <CivetServer.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "PortArgument.h"

namespace {

class EchoChannel : public CivetWebSocketHandler {
public:
    EchoChannel() { message.reserve(32768); }

    bool handleData(CivetServer*, mg_connection* conn, int bits, char* data,
                    size_t length) override {
        if ((bits & 0x0F) == 8) return false;  // close
        if (opcode == 0) opcode = bits & 0x0F;
        const auto* bytes = reinterpret_cast<const uint8_t*>(data);
        message.insert(message.end(), bytes, bytes + length);
        if (!(bits & 0x80)) return true;
        mg_websocket_write(conn, opcode, reinterpret_cast<const char*>(message.data()),
                           message.size());
        message.clear();
        opcode = 0;
        return true;
    }

    void handleClose(CivetServer*, const mg_connection*) override {
        message.clear();
        opcode = 0;
    }

private:
    std::vector<uint8_t> message;
    int opcode = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const long port = portArgument(argc, argv);
    if (!port) return 2;
    // The server's threads inherit this mask, so only sigwait sees the signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const std::string address = "127.0.0.1:" + std::to_string(port);
    const char* options[] = {"listening_ports", address.c_str(), "tcp_nodelay", "1", nullptr};
    EchoChannel channel;
    CivetServer* server = nullptr;
    try {
        server = new CivetServer(options);
    } catch (const CivetException& failure) {
        std::fprintf(stderr, "cannot listen on %s: %s\n", address.c_str(), failure.what());
        return 1;
    }
    server->addWebSocketHandler("/", channel);
    std::printf("echo on %s\n", address.c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    delete server;
    return 0;
}
