// A WebSocket client for tests: speaks the protocol like a browser, and can
// also send what a browser never would (fragments, control frames, stray
// continuations, reserved bits).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

struct WsMessage {
    int opcode = 0;  // 1 text, 2 binary, 8 close
    std::string payload;
    bool endOfStream = false;  // a close that is only the stream's end, no close frame

    bool isText() const { return opcode == 1; }
    bool isBinary() const { return opcode == 2; }
};

class WsClient {
public:
    WsClient() = default;
    ~WsClient() { disconnect(); }
    WsClient(const WsClient&) = delete;
    WsClient& operator=(const WsClient&) = delete;

    // TCP connect and upgrade handshake; false when refused or failed.
    bool connect(uint16_t port, int timeoutMs = 5000);
    // One handshake, no retry: true only when upgraded.
    bool connectOnce(uint16_t port, int timeoutMs = 5000) {
        return tryConnect(port, Clock::now() + std::chrono::milliseconds(timeoutMs)) ==
               Attempt::upgraded;
    }
    // What the next handshakes send as Host (empty: 127.0.0.1:port) and
    // Origin (empty: none, as a native client).
    void useHeaders(std::string host, std::string origin);
    // The subprotocols the next handshakes offer, as the header lists them.
    void offerSubprotocols(std::string list) { subprotocols = std::move(list); }
    void disconnect();

    // One frame. firstByte is the whole header byte (FIN, RSV, opcode).
    bool sendFrame(uint8_t firstByte, const std::string& payload);
    bool sendText(const std::string& text) { return sendFrame(0x81, text); }
    bool sendBinary(const std::string& bytes) { return sendFrame(0x82, bytes); }
    // Bytes as they are: frames a browser never sends, unmasked ones among them.
    bool sendRaw(std::string_view bytes) { return fd >= 0 && writeAll(bytes); }
    bool sendBinary(const std::vector<float>& samples) {
        return sendBinary(std::string(reinterpret_cast<const char*>(samples.data()),
                                      samples.size() * sizeof(float)));
    }

    // The next whole message, or nothing within the timeout. A close frame
    // from the server or the end of the stream yields opcode 8.
    std::optional<WsMessage> receive(int timeoutMs = 5000);
    std::optional<std::string> receiveText(int timeoutMs = 5000) { return receiveOf(1, timeoutMs); }
    std::optional<std::string> receiveBinary(int timeoutMs = 5000) {
        return receiveOf(2, timeoutMs);
    }
    // Sends a text and returns the text that answers it.
    std::optional<std::string> ask(const std::string& text, int timeoutMs = 5000) {
        return sendText(text) ? receiveText(timeoutMs) : std::nullopt;
    }

    // The server's close frame once it has also ended the stream, skipping
    // what comes before; nothing when the connection is still open at the
    // timeout. Waiting for the end also keeps a test's next connection
    // from overlapping the server's close of this one.
    std::optional<WsMessage> receiveClose(int timeoutMs = 5000);
    bool waitClosed(int timeoutMs = 5000) { return receiveClose(timeoutMs).has_value(); }
    bool isOpen() const { return fd >= 0 && !closed; }
    // The response the last handshake got: status line, headers, and the
    // body of a refusal.
    const std::string& handshakeResponse() const { return response; }

private:
    using Clock = std::chrono::steady_clock;
    enum class Attempt { upgraded, notYet, refused, failed };
    Attempt tryConnect(uint16_t port, Clock::time_point deadline);
    // Appends the next length bytes read; false when they do not come in time.
    bool readInto(std::string& into, std::size_t length, int timeoutMs);
    bool writeAll(std::string_view bytes);
    std::optional<std::string> receiveOf(int opcode, int timeoutMs);
    bool streamEnds(int timeoutMs);

    int fd = -1;
    bool closed = false;
    std::string pending;  // bytes read past the handshake
    std::string response;
    std::string hostHeader;
    std::string originHeader;
    std::string subprotocols;
};

std::vector<float> floatsOf(const std::string& bytes);

}  // namespace testing_support
