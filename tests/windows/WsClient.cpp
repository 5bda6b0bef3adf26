#include "WsClient.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "ClientFrame.h"

namespace {

struct WinsockStartup {
    WinsockStartup() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockStartup() { WSACleanup(); }
};

WinsockStartup& winsock() {
    static WinsockStartup startup;
    return startup;
}

std::mt19937& random() {
    static std::mt19937 generator(std::random_device{}());
    return generator;
}

}  // namespace

WsClient::WsClient() : socket_(INVALID_SOCKET) {
    winsock();
}

WsClient::~WsClient() {
    close();
}

void WsClient::close() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    socket_ = INVALID_SOCKET;
}

bool WsClient::connect(uint16_t port, int timeoutMs) {
    close();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // The program may still be starting: retry until it listens.
    while (true) {
        SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            socket_ = s;
            break;
        }
        closesocket(s);
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    BOOL noDelay = TRUE;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);

    const std::string request =
        "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (send(socket_, request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size()))
        return false;
    std::string response;
    while (response.find("\r\n\r\n") == std::string::npos) {
        char c;
        if (!readExact(&c, 1, timeoutMs)) return false;
        response.push_back(c);
    }
    return response.compare(0, 12, "HTTP/1.1 101") == 0;
}

bool WsClient::sendText(const std::string& text) {
    return sendFrame(1, text.data(), text.size());
}

bool WsClient::sendBinary(const void* data, size_t length) {
    return sendFrame(2, data, length);
}

bool WsClient::sendFrame(int opcode, const void* data, size_t length) {
    uint8_t mask[4];
    for (uint8_t& byte : mask) byte = static_cast<uint8_t>(random()());
    const std::vector<uint8_t> frame = clientFrame(static_cast<uint8_t>(0x80 | opcode), data, length, mask);
    size_t sent = 0;
    while (sent < frame.size()) {
        const int n = send(socket_, reinterpret_cast<const char*>(frame.data() + sent),
                           static_cast<int>(frame.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool WsClient::readExact(void* out, size_t length, int timeoutMs) {
    auto* bytes = static_cast<char*>(out);
    size_t got = 0;
    while (got < length) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_, &readable);
        timeval wait = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0) return false;
        const int n = recv(socket_, bytes + got, static_cast<int>(length - got), 0);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

WsMessage WsClient::receive(int timeoutMs) {
    WsMessage message;
    if (socket_ == INVALID_SOCKET) return message;
    while (true) {
        uint8_t head[2];
        if (!readExact(head, 2, timeoutMs)) return WsMessage{};
        const bool final = head[0] & 0x80;
        const int opcode = head[0] & 0x0F;
        uint64_t length = head[1] & 0x7F;
        if (length == 126 || length == 127) {
            uint8_t extended[8];
            const size_t size = length == 126 ? 2 : 8;
            if (!readExact(extended, size, timeoutMs)) return WsMessage{};
            length = 0;
            for (size_t i = 0; i < size; ++i) length = (length << 8) | extended[i];
        }
        std::string payload(static_cast<size_t>(length), '\0');
        if (length && !readExact(payload.data(), payload.size(), timeoutMs)) return WsMessage{};
        if (opcode != 0) message.opcode = opcode;
        message.data += payload;
        if (final) return message;
    }
}
