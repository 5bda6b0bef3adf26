// Reads one client's WebSocket stream: frame headers, masked payloads,
// fragments joined into whole messages, and the rules of RFC 6455 that
// decide which frames end the connection, and with which close status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class FrameJoiner {
public:
    static constexpr std::size_t maxTextBytes = std::size_t(1) << 20;
    static constexpr std::size_t maxBinaryBytes = std::size_t(256) << 20;

    // Close statuses of RFC 6455.
    static constexpr uint16_t protocolError = 1002;
    static constexpr uint16_t invalidText = 1007;
    static constexpr uint16_t tooBig = 1009;

    enum class Outcome {
        More,         // every byte given was read; the stream goes on
        Text,         // text() holds a whole text message
        Binary,       // binary() holds a whole binary message
        Close,        // end the connection, with a close of closeStatus when it is not 0
        ClientClose,  // the client sent a close: answer with closeStatus (0: a close without one)
    };
    struct Step {
        Outcome outcome;
        uint16_t closeStatus = 0;
    };

    FrameJoiner();

    // Reads the next bytes of the stream, unmasking payloads in place, up to
    // the end of a whole message or a close, or to the end of the bytes.
    // `taken` says how many were read; the caller pushes the rest after
    // taking the message and calling clear(). A Close step has dropped
    // whatever was held; the joiner then skips frames until the client's
    // own close (a ClientClose step), so the close handshake can finish.
    Step push(uint8_t* data, std::size_t length, std::size_t& taken);

    std::string_view text() const { return textMessage; }
    const std::vector<uint8_t>& binary() const { return binaryMessage; }

    // Forgets the message taken and any partial one. Keeps a few blocks'
    // worth of capacity, so the audio path does not allocate per block,
    // and gives back what a large message took.
    void clear();
    // Forgets every message and holds no memory at all: the connection ended.
    void release();

private:
    // What the two first bytes of a frame allow, and the header's length.
    Step checkStart();
    // What the whole header allows; sets up reading the payload.
    Step checkHeader();
    Step takePayload(uint8_t* data, std::size_t length, std::size_t& taken);
    Step endFrame();
    Step endControlFrame();
    Step closeWith(uint16_t status);

    std::string textMessage;
    std::vector<uint8_t> binaryMessage;
    uint8_t messageOpcode = 0;  // of the message in progress, 0 between messages

    // The frame being read.
    uint8_t header[14] = {};
    std::size_t headerHave = 0;
    std::size_t headerLength = 2;
    uint64_t payloadLeft = 0;
    bool inPayload = false;
    unsigned maskPhase = 0;
    uint8_t controlPayload[125] = {};
    std::size_t controlHave = 0;

    bool closing = false;  // a Close was returned: skipping to the client's close
};
