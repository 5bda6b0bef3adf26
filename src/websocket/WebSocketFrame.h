// Server-to-client WebSocket frames, built in our own buffer so that header
// and payload leave in one write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace websocket {

constexpr uint8_t textOpcode = 1;
constexpr uint8_t binaryOpcode = 2;
constexpr uint8_t closeOpcode = 8;

// Replaces frame with one final, unmasked frame carrying the payload.
void buildFrame(std::vector<uint8_t>& frame, uint8_t opcode, const void* payload,
                std::size_t length);

}  // namespace websocket
