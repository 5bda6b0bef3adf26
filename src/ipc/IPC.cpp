#include "ipc/IPC.h"

#include <cstdio>
#include <cstring>

#include "ipc/ServerOptions.h"

namespace {

constexpr uint8_t textOpcode = 1;
constexpr uint8_t binaryOpcode = 2;

void printLine(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace

IPC::IPC(uint16_t port) : port(port) {}

void IPC::listen(IPCHandler* receiver) {
    handler.store(receiver);
    const std::string address = "127.0.0.1:" + std::to_string(port);
    // Without tcp_nodelay every round trip waits on delayed acknowledgements.
    const char* options[] = {"listening_ports", address.c_str(), "tcp_nodelay",
                             serverNoDelay() ? "1" : "0", nullptr};
    server = new CivetServer(options);
    server->addWebSocketHandler("/", this);
    // Plain HTTP requests get the built-in test page; upgrades stay with this channel.
    server->addHandler("/", page);
}

IPC::~IPC() {
    stop();
}

void IPC::stop() {
    handler.store(nullptr);
    delete server;  // joins the worker threads; their closes now feed nothing
    server = nullptr;
    connection.store(nullptr);
}

bool IPC::handleConnection(CivetServer*, const mg_connection* conn) {
    // The library drops a handshake whose key it cannot answer without
    // reporting a close, which would leave the slot taken for good.
    const char* key = mg_get_header(conn, "Sec-WebSocket-Key");
    const bool keyUsable = key && std::strlen(key) < 60;
    std::lock_guard<std::mutex> lock(slotMutex);
    if (owner || !keyUsable) {
        printLine("WS refused\n");
        return false;
    }
    owner = conn;
    printLine("WS connected\n");
    return true;
}

void IPC::handleReadyState(CivetServer*, mg_connection* conn) {
    printLine("WS ready\n");
    {
        std::lock_guard<std::mutex> lock(sendMutex);
        connection.store(conn);
    }
    if (IPCHandler* receiver = handler.load()) receiver->onReady();
}

bool IPC::handleData(CivetServer*, mg_connection*, int bits, char* data, size_t length) {
    const FrameJoiner::Step step = joiner.push(bits, data, length);
    IPCHandler* receiver = handler.load();
    bool result = step.outcome != FrameJoiner::Outcome::Close;
    if (step.outcome == FrameJoiner::Outcome::Text) {
        std::string reply;
        if (receiver) {
            result = receiver->onText(std::string(joiner.text()), reply);
            if (!reply.empty()) write(textOpcode, reply.data(), reply.size());
        }
        joiner.clear();
    } else if (step.outcome == FrameJoiner::Outcome::Binary) {
        if (receiver) result = receiver->onBinary(joiner.binary());
        joiner.clear();
    }
    return result;
}

void IPC::handleClose(CivetServer*, const mg_connection* conn) {
    if (IPCHandler* receiver = handler.load()) {
        std::string ignored;
        receiver->onText("unload", ignored);
    }
    {
        std::lock_guard<std::mutex> lock(sendMutex);
        connection.store(nullptr);
    }
    // A message cut off by the close must not leak into the next client's.
    joiner.clear();
    {
        std::lock_guard<std::mutex> lock(slotMutex);
        if (owner == conn) owner = nullptr;
    }
    printLine("WS closed\n");
}

void IPC::write(int opcode, const void* data, size_t length) {
    // The GUI thread sends too; holding the lock keeps a closing connection
    // (whose slot the library reuses) from being written to.
    std::lock_guard<std::mutex> lock(sendMutex);
    if (mg_connection* conn = connection.load()) {
        mg_websocket_write(conn, opcode, static_cast<const char*>(data), length);
    }
}

void IPC::sendText(std::string text) {
    write(textOpcode, text.data(), text.size());
}

void IPC::sendBinary(const void* data, size_t length) {
    write(binaryOpcode, data, length);
}
