// Joins one connection's WebSocket frames into whole messages and decides
// which frames end the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class FrameJoiner {
public:
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
    Step push(int headerBits, const char* data, std::size_t length);

    std::string_view text() const { return textMessage; }
    const std::vector<uint8_t>& binary() const { return binaryMessage; }

    // Forgets the message taken and any partial one; keeps a few blocks'
    // worth of capacity, so the audio path does not allocate per block.
    void clear();

private:
    std::string textMessage;
    std::vector<uint8_t> binaryMessage;
    uint8_t messageOpcode = 0;
};
