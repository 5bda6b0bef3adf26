#include "websocket/FrameJoiner.h"

#include <new>

#include "text/Utf8.h"

namespace {

constexpr int finalBit = 0x80;
constexpr int reservedBits = 0x70;
constexpr int opcodeBits = 0x0F;
constexpr uint8_t continuationOpcode = 0;
constexpr uint8_t textOpcode = 1;
constexpr uint8_t binaryOpcode = 2;
constexpr uint8_t closeOpcode = 8;
constexpr uint8_t pingOpcode = 9;
constexpr uint8_t pongOpcode = 10;
// Room for an audio block of 4096 frames without growing.
constexpr std::size_t reservedBinaryBytes = 32768;
// Two blocks of the largest size (16384 frames, two channels in, two out).
constexpr std::size_t keptBinaryBytes = 2 * 8 * 16384;
constexpr std::size_t keptTextBytes = 64 * 1024;

}  // namespace

FrameJoiner::FrameJoiner() {
    binaryMessage.reserve(reservedBinaryBytes);
}

FrameJoiner::Step FrameJoiner::push(int headerBits, const char* data, std::size_t length) {
    const uint8_t opcode = static_cast<uint8_t>(headerBits & opcodeBits);
    const bool final = (headerBits & finalBit) != 0;
    // No extension was negotiated, so no reserved bit may be set.
    if (headerBits & reservedBits) return closeWith(protocolError);
    if (opcode == closeOpcode) return closeWith(0);
    // A ping or pong ends the connection, and a partial message with it.
    if (opcode == pingOpcode || opcode == pongOpcode) return closeWith(0);
    if (opcode == continuationOpcode) {
        if (messageOpcode == 0) return closeWith(protocolError);
    } else if (opcode == textOpcode || opcode == binaryOpcode) {
        if (messageOpcode != 0) return closeWith(protocolError);
        messageOpcode = opcode;
    } else {
        return closeWith(protocolError);
    }
    return append(data, length, final);
}

FrameJoiner::Step FrameJoiner::append(const char* data, std::size_t length, bool final) {
    try {
        if (messageOpcode == textOpcode) {
            if (length > maxTextBytes - textMessage.size()) return closeWith(tooBig);
            textMessage.append(data, length);
            if (!final) return {Outcome::More};
            messageOpcode = 0;
            if (!isValidUtf8(textMessage)) return closeWith(invalidText);
            return {Outcome::Text};
        }
        if (length > maxBinaryBytes - binaryMessage.size()) return closeWith(tooBig);
        const auto* bytes = reinterpret_cast<const uint8_t*>(data);
        binaryMessage.insert(binaryMessage.end(), bytes, bytes + length);
        if (!final) return {Outcome::More};
        messageOpcode = 0;
        return {Outcome::Binary};
    } catch (const std::bad_alloc&) {
        return closeWith(tooBig);
    }
}

FrameJoiner::Step FrameJoiner::closeWith(uint16_t status) {
    release();
    return {Outcome::Close, status};
}

void FrameJoiner::clear() {
    messageOpcode = 0;
    if (textMessage.capacity() > keptTextBytes) {
        std::string().swap(textMessage);
    } else {
        textMessage.clear();
    }
    if (binaryMessage.capacity() > keptBinaryBytes) {
        std::vector<uint8_t>().swap(binaryMessage);
        try {
            binaryMessage.reserve(reservedBinaryBytes);
        } catch (const std::bad_alloc&) {
            // The next block grows it again.
        }
    } else {
        binaryMessage.clear();
    }
}

void FrameJoiner::release() {
    messageOpcode = 0;
    std::string().swap(textMessage);
    std::vector<uint8_t>().swap(binaryMessage);
}
