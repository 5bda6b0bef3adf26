#include "WsClient.h"

#include <cstring>

#include "ClientFrame.h"
#include "Sockets.h"

namespace testing_support {

namespace {

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

void WsClient::disconnect() {
    if (fd >= 0) closeSocket(fd);
    fd = -1;
    closed = true;
    pending.clear();
}

bool WsClient::connect(uint16_t port, int timeoutMs) {
    // The program prints its first line just before it listens, and the
    // server answers 404 for a moment before its WebSocket handler is in
    // place: retry until the deadline unless the server answers otherwise.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const Attempt result = tryConnect(port, deadline);
        if (result == Attempt::upgraded) return true;
        if (result == Attempt::failed || Clock::now() >= deadline) return false;
        // A refusal means every session is taken until one closes; under
        // Wine a fast stream of refused connections upsets Wine's server.
        pauseMs(result == Attempt::refused ? 100 : 20);
    }
}

WsClient::Attempt WsClient::tryConnect(uint16_t port, Clock::time_point deadline) {
    disconnect();
    fd = connectLoopback(port);
    if (fd < 0) return Attempt::notYet;
    closed = false;
    const std::string host = hostHeader.empty() ? "127.0.0.1:" + std::to_string(port) : hostHeader;
    const std::string origin = originHeader.empty() ? "" : "Origin: " + originHeader + "\r\n";
    const std::string offer =
        subprotocols.empty() ? "" : "Sec-WebSocket-Protocol: " + subprotocols + "\r\n";
    const std::string request =
        "GET / HTTP/1.1\r\nHost: " + host + "\r\n" + origin + offer +
        "Upgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (!writeAll(request)) {
        disconnect();
        return Attempt::notYet;
    }
    response.clear();
    while (response.find("\r\n\r\n") == std::string::npos) {
        if (!readInto(response, 1, remainingMs(deadline))) {
            disconnect();
            return Attempt::refused;  // closed unanswered
        }
    }
    if (response.rfind("HTTP/1.1 101", 0) == 0) return Attempt::upgraded;
    // The body runs to the end of the stream: refusals close the connection.
    while (readInto(response, 1, remainingMs(deadline))) continue;
    disconnect();
    return response.rfind("HTTP/1.1 404", 0) == 0 ? Attempt::notYet : Attempt::failed;
}

void WsClient::useHeaders(std::string host, std::string origin) {
    hostHeader = std::move(host);
    originHeader = std::move(origin);
}

bool WsClient::writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const auto sent = send(fd, bytes.data(), static_cast<int>(bytes.size()), MSG_NOSIGNAL);
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool WsClient::readInto(std::string& into, std::size_t length, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pending.size() < length) {
        pollfd watched{};
        watched.fd = fd;
        watched.events = POLLIN;
        if (poll(&watched, 1, remainingMs(deadline)) <= 0) return false;
        char buffer[65536];
        const auto got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            closed = true;
            return false;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
    }
    into.append(pending, 0, length);
    pending.erase(0, length);
    return true;
}

bool WsClient::sendFrame(uint8_t firstByte, const std::string& payload) {
    if (fd < 0) return false;
    const uint8_t mask[4] = {0x12, 0x34, 0x56, 0x78};
    const std::vector<uint8_t> frame = clientFrame(firstByte, payload.data(), payload.size(), mask);
    return writeAll(std::string_view(reinterpret_cast<const char*>(frame.data()), frame.size()));
}

std::optional<WsMessage> WsClient::receive(int timeoutMs) {
    const WsMessage ended{8, {}, true};
    if (fd < 0) return ended;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    WsMessage message;
    for (;;) {
        std::string header;
        if (!readInto(header, 2, remainingMs(deadline))) {
            if (closed) return ended;
            return std::nullopt;
        }
        uint64_t length = header[1] & 0x7F;
        if (length >= 126) {
            std::string extended;
            if (!readInto(extended, length == 126 ? 2 : 8, remainingMs(deadline) + 1000))
                return ended;
            length = 0;
            for (char byte : extended) length = (length << 8) | static_cast<uint8_t>(byte);
        }
        std::string payload;
        if (!readInto(payload, length, remainingMs(deadline) + 1000)) return ended;
        const int opcode = header[0] & 0x0F;
        if (opcode == 8) {
            closed = true;
            sendFrame(0x88, payload.substr(0, 2));  // answered, as browsers do
            return WsMessage{8, payload};
        }
        if (opcode != 0) message.opcode = opcode;
        message.payload += payload;
        if (header[0] & 0x80) return message;
    }
}

std::optional<std::string> WsClient::receiveOf(int opcode, int timeoutMs) {
    auto message = receive(timeoutMs);
    if (!message || message->opcode != opcode) return std::nullopt;
    return message->payload;
}

std::optional<WsMessage> WsClient::receiveClose(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (remainingMs(deadline) > 0) {
        auto message = receive(remainingMs(deadline));
        if (!message) return message;
        if (message->opcode == 8) return streamEnds(remainingMs(deadline)) ? message : std::nullopt;
    }
    return std::nullopt;
}

bool WsClient::streamEnds(int timeoutMs) {
    pollfd watched{};
    watched.fd = fd;
    watched.events = POLLIN;
    char byte;
    return fd < 0 ||
           (pending.empty() && poll(&watched, 1, timeoutMs) > 0 && recv(fd, &byte, 1, 0) == 0);
}

std::vector<float> floatsOf(const std::string& bytes) {
    std::vector<float> samples(bytes.size() / sizeof(float));
    if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

}  // namespace testing_support
