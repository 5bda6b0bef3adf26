#include "websocket/WebSocketFrame.h"

#include <cstring>

namespace websocket {

namespace {

std::size_t writeHeader(uint8_t* header, uint8_t opcode, std::size_t length) {
    header[0] = static_cast<uint8_t>(0x80 | opcode);
    if (length < 126) {
        header[1] = static_cast<uint8_t>(length);
        return 2;
    }
    if (length <= 0xFFFF) {
        header[1] = 126;
        header[2] = static_cast<uint8_t>(length >> 8);
        header[3] = static_cast<uint8_t>(length);
        return 4;
    }
    header[1] = 127;
    for (int i = 0; i < 8; ++i)
        header[2 + i] = static_cast<uint8_t>(static_cast<uint64_t>(length) >> (56 - 8 * i));
    return maxHeaderBytes;
}

}  // namespace

void buildFrame(std::vector<uint8_t>& frame, uint8_t opcode, const void* payload,
                std::size_t length) {
    uint8_t header[maxHeaderBytes];
    const std::size_t headerLength = writeHeader(header, opcode, length);
    // resize() within capacity does not allocate.
    frame.resize(headerLength + length);
    std::memcpy(frame.data(), header, headerLength);
    if (length) std::memcpy(frame.data() + headerLength, payload, length);
}

uint8_t* headerBefore(uint8_t* payload, uint8_t opcode, std::size_t length) {
    uint8_t header[maxHeaderBytes];
    const std::size_t headerLength = writeHeader(header, opcode, length);
    std::memcpy(payload - headerLength, header, headerLength);
    return payload - headerLength;
}

}  // namespace websocket
