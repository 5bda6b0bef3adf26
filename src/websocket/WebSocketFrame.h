// Server-to-client WebSocket frames, built so that header and payload leave
// in one write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace websocket {

constexpr uint8_t textOpcode = 1;
constexpr uint8_t binaryOpcode = 2;
constexpr uint8_t closeOpcode = 8;

// The longest header of an unmasked frame: a 64-bit length.
constexpr std::size_t maxHeaderBytes = 10;

// Replaces frame with one final, unmasked frame carrying the payload.
void buildFrame(std::vector<uint8_t>& frame, uint8_t opcode, const void* payload,
                std::size_t length);

// Writes the header of one final, unmasked frame of length bytes into the
// bytes just before payload, at most maxHeaderBytes of them, and returns
// where the frame begins.
uint8_t* headerBefore(uint8_t* payload, uint8_t opcode, std::size_t length);

}  // namespace websocket
