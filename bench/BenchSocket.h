// A lean WebSocket client for timing round trips: each block leaves in one
// send, replies are read with blocking receives into a buffer allocated once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class BenchSocket {
public:
    BenchSocket();
    ~BenchSocket();
    BenchSocket(const BenchSocket&) = delete;
    BenchSocket& operator=(const BenchSocket&) = delete;

    // Connects and upgrades, retrying while the server is still starting.
    // A raw socket stays plain TCP; a subprotocol, when given, is offered
    // and must be the one chosen.
    bool connect(uint16_t port, int timeoutMs, bool raw = false,
                 const std::string& subprotocol = {});
    // Raw TCP: the bytes as they are, and exactly length bytes back into payload().
    bool sendRaw(const std::vector<uint8_t>& bytes);
    bool receiveRaw(size_t length);

    // A whole masked frame, built once per block size by makeFrame.
    static std::vector<uint8_t> makeFrame(int opcode, const void* payload, size_t length);
    bool send(const std::vector<uint8_t>& frame);
    bool sendText(const std::string& text);

    // Room for messages of up to `bytes`, for replies with more than two
    // channels; the room made at construction holds any two-channel block.
    void makeRoomFor(size_t bytes);

    // The next whole message (frames joined); false on close, error or timeout.
    // The payload stays valid until the next receive.
    bool receive(int& opcode);
    const uint8_t* payload() const { return message.data(); }
    size_t payloadSize() const { return messageSize; }
    std::string payloadText() const;

private:
    bool readExactly(uint8_t* target, size_t length);

    int fd = -1;
    std::vector<uint8_t> incoming;  // bytes read past what was asked for
    size_t incomingStart = 0;
    size_t incomingEnd = 0;
    std::vector<uint8_t> message;
    size_t messageSize = 0;
};
