// A small WebSocket client over Winsock, enough to drive the program the
// way the browser does: one connection, masked frames, whole messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WsMessage {
    int opcode = 0;  // 1 text, 2 binary, 8 close; 0 when nothing arrived
    std::string data;
};

class WsClient {
public:
    WsClient();
    ~WsClient();
    WsClient(const WsClient&) = delete;
    WsClient& operator=(const WsClient&) = delete;

    // Connects to 127.0.0.1:port, path "/", and completes the handshake.
    bool connect(uint16_t port, int timeoutMs);
    bool sendText(const std::string& text);
    bool sendBinary(const void* data, size_t length);
    // The next whole message; opcode 0 on timeout or a broken connection.
    WsMessage receive(int timeoutMs);
    void close();

private:
    bool sendFrame(int opcode, const void* data, size_t length);
    bool readExact(void* out, size_t length, int timeoutMs);

    uintptr_t socket_;
};
