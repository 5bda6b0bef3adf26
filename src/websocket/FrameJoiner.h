// Joins one connection's WebSocket frames into whole messages and decides
// which frames end the connection, and with which close status.
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
        More,    // the message goes on in a later frame
        Text,    // text() holds a whole text message
        Binary,  // binary() holds a whole binary message
        Close,   // end the connection, with closeStatus when it is not 0
    };
    struct Step {
        Outcome outcome;
        uint16_t closeStatus = 0;
    };

    FrameJoiner();

    // One frame as the library delivers it: its first header byte, its payload.
    // A Close step has already dropped whatever was held.
    Step push(int headerBits, const char* data, std::size_t length);

    std::string_view text() const { return textMessage; }
    const std::vector<uint8_t>& binary() const { return binaryMessage; }

    // Forgets the message taken and any partial one. Keeps a few blocks'
    // worth of capacity, so the audio path does not allocate per block,
    // and gives back what a large message took.
    void clear();
    // Forgets everything and holds no memory at all: the connection ended.
    void release();

private:
    Step closeWith(uint16_t status);
    Step append(const char* data, std::size_t length, bool final);

    std::string textMessage;
    std::vector<uint8_t> binaryMessage;
    uint8_t messageOpcode = 0;  // of the message in progress, 0 between messages
};
