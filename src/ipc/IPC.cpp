#include "ipc/IPC.h"

#include <cstdio>
#include <cstring>

#include "ipc/ServerOptions.h"

namespace {

constexpr int finalBit = 0x80;
constexpr int opcodeBits = 0x0F;
constexpr int opcodeClose = 8;
constexpr uint8_t textOpcode = 1;
constexpr uint8_t binaryOpcode = 2;
// Room for an audio block of 4096 frames without growing.
constexpr std::size_t reservedBinaryBytes = 32768;

void printLine(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace

IPC::IPC(uint16_t port) : port(port) {
    binaryMessage.reserve(reservedBinaryBytes);
}

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
    if ((bits & opcodeBits) == opcodeClose) return false;
    if (messageOpcode == 0) messageOpcode = static_cast<uint8_t>(bits & 0x7F);
    const bool final = (bits & finalBit) != 0;
    bool result = false;
    if (messageOpcode == textOpcode) {
        result = textStep(data, length, final);
    } else if (messageOpcode == binaryOpcode) {
        result = binaryStep(data, length, final);
    }
    // Anything else (ping, pong, stray continuation, reserved bits) closes.
    if (final) messageOpcode = 0;
    return result;
}

bool IPC::textStep(const char* data, size_t length, bool final) {
    textMessage.write(data, static_cast<std::streamsize>(length));
    if (!final) return true;
    std::string reply;
    bool result = true;
    if (IPCHandler* receiver = handler.load()) {
        result = receiver->onText(textMessage.str(), reply);
        if (!reply.empty()) write(textOpcode, reply.data(), reply.size());
    }
    textMessage.clear();
    textMessage.str(std::string());
    return result;
}

bool IPC::binaryStep(const char* data, size_t length, bool final) {
    // As bytes of the vector's own type, so the append is one block copy
    // rather than a conversion loop over every byte.
    const auto* bytes = reinterpret_cast<const uint8_t*>(data);
    binaryMessage.insert(binaryMessage.end(), bytes, bytes + length);
    if (!final) return true;
    bool result = true;
    if (IPCHandler* receiver = handler.load()) {
        // Handed over, not copied: a handler that gives the storage back
        // through reuseBinaryStorage keeps the audio path free of allocation.
        result = receiver->onBinary(std::move(binaryMessage));
    }
    binaryMessage.clear();
    if (binaryMessage.capacity() < reservedBinaryBytes) binaryMessage.reserve(reservedBinaryBytes);
    return result;
}

void IPC::reuseBinaryStorage(std::vector<uint8_t>&& storage) {
    binaryMessage = std::move(storage);  // emptied once onBinary returns
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
    textMessage.clear();
    textMessage.str(std::string());
    binaryMessage.clear();
    messageOpcode = 0;
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
