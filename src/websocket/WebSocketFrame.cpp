#include "websocket/WebSocketFrame.h"

#include <cstring>

namespace websocket {

void buildFrame(std::vector<uint8_t>& frame, uint8_t opcode, const void* payload,
                std::size_t length) {
    uint8_t header[10];
    std::size_t headerLength = 2;
    header[0] = static_cast<uint8_t>(0x80 | opcode);
    if (length < 126) {
        header[1] = static_cast<uint8_t>(length);
    } else if (length <= 0xFFFF) {
        header[1] = 126;
        header[2] = static_cast<uint8_t>(length >> 8);
        header[3] = static_cast<uint8_t>(length);
        headerLength = 4;
    } else {
        header[1] = 127;
        for (int i = 0; i < 8; ++i)
            header[2 + i] = static_cast<uint8_t>(static_cast<uint64_t>(length) >> (56 - 8 * i));
        headerLength = 10;
    }
    // resize() within capacity does not allocate: the audio path reuses one buffer.
    frame.resize(headerLength + length);
    std::memcpy(frame.data(), header, headerLength);
    if (length) std::memcpy(frame.data() + headerLength, payload, length);
}

}  // namespace websocket
