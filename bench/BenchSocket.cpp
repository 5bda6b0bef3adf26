#include "BenchSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "ClientFrame.h"

namespace {

constexpr size_t incomingBytes = 1 << 16;
// The largest two-channel block (16384 frames) with room for any records the
// host puts in front of it.
constexpr size_t messageBytes = 16384 * 8 + 65536;
constexpr int receiveTimeoutSeconds = 10;

}  // namespace

BenchSocket::BenchSocket() : incoming(incomingBytes), message(messageBytes) {}

BenchSocket::~BenchSocket() {
    if (fd >= 0) close(fd);
}

bool BenchSocket::connect(uint16_t port, int timeoutMs, bool raw, const std::string& subprotocol) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (fd >= 0) close(fd);
        incomingStart = incomingEnd = 0;
        fd = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // as browsers do
        timeval timeout{receiveTimeoutSeconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            if (raw) return true;
            const std::string request =
                "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
                (subprotocol.empty() ? "" : "Sec-WebSocket-Protocol: " + subprotocol + "\r\n") +
                "\r\n";
            std::string response;
            if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(request.size())) {
                uint8_t byte;
                while (response.find("\r\n\r\n") == std::string::npos && readExactly(&byte, 1))
                    response += static_cast<char>(byte);
            }
            if (response.rfind("HTTP/1.1 101", 0) == 0)
                return subprotocol.empty() ||
                       response.find("Sec-WebSocket-Protocol: " + subprotocol + "\r\n") !=
                           std::string::npos;
            // 404 while the server is still putting its handler in place;
            // a server slowed down by callgrind then sends the library's
            // bare "Error 404: Not Found" page, without a status line.
            const std::string firstLine = response.substr(0, response.find('\n'));
            if (!response.empty() && firstLine.find("404") == std::string::npos) return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::vector<uint8_t> BenchSocket::makeFrame(int opcode, const void* payload, size_t length) {
    const uint8_t mask[4] = {0x5a, 0x17, 0xc3, 0x81};
    return clientFrame(static_cast<uint8_t>(0x80 | opcode), payload, length, mask);
}

bool BenchSocket::send(const std::vector<uint8_t>& frame) {
    const uint8_t* bytes = frame.data();
    size_t left = frame.size();
    while (left > 0) {
        const ssize_t sent = ::send(fd, bytes, left, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        bytes += sent;
        left -= static_cast<size_t>(sent);
    }
    return true;
}

bool BenchSocket::sendText(const std::string& text) {
    return send(makeFrame(1, text.data(), text.size()));
}

bool BenchSocket::readExactly(uint8_t* target, size_t length) {
    const size_t buffered = incomingEnd - incomingStart;
    const size_t take = buffered < length ? buffered : length;
    std::memcpy(target, incoming.data() + incomingStart, take);
    incomingStart += take;
    target += take;
    length -= take;
    if (length == 0) return true;
    incomingStart = incomingEnd = 0;
    // Large payloads go straight to their place; small reads fill the buffer.
    while (length >= incoming.size()) {
        const ssize_t got = recv(fd, target, length, 0);
        if (got <= 0) return false;
        target += got;
        length -= static_cast<size_t>(got);
    }
    while (incomingEnd < length) {
        const ssize_t got =
            recv(fd, incoming.data() + incomingEnd, incoming.size() - incomingEnd, 0);
        if (got <= 0) return false;
        incomingEnd += static_cast<size_t>(got);
    }
    std::memcpy(target, incoming.data(), length);
    incomingStart = length;
    return true;
}

bool BenchSocket::receive(int& opcode) {
    messageSize = 0;
    opcode = 0;
    for (;;) {
        uint8_t header[2];
        if (!readExactly(header, 2)) return false;
        uint64_t length = header[1] & 0x7F;
        if (length >= 126) {
            uint8_t extended[8];
            const size_t size = length == 126 ? 2 : 8;
            if (!readExactly(extended, size)) return false;
            length = 0;
            for (size_t i = 0; i < size; ++i) length = (length << 8) | extended[i];
        }
        if ((header[1] & 0x80) || length > message.size() - messageSize) return false;
        if (!readExactly(message.data() + messageSize, length)) return false;
        messageSize += length;
        const int frameOpcode = header[0] & 0x0F;
        if (frameOpcode == 8) {
            opcode = 8;
            return false;
        }
        if (frameOpcode != 0) opcode = frameOpcode;
        if (header[0] & 0x80) return true;
    }
}

std::string BenchSocket::payloadText() const {
    return std::string(reinterpret_cast<const char*>(message.data()), messageSize);
}

void BenchSocket::makeRoomFor(size_t bytes) {
    if (bytes > message.size()) message.resize(bytes);
}

bool BenchSocket::sendRaw(const std::vector<uint8_t>& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

bool BenchSocket::receiveRaw(size_t length) {
    if (length > message.size() || !readExactly(message.data(), length)) return false;
    messageSize = length;
    return true;
}
