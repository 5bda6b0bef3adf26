#include "websocket/FrameJoiner.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "text/Utf8.h"

namespace {

constexpr uint8_t finalBit = 0x80;
constexpr uint8_t reservedBits = 0x70;
constexpr uint8_t opcodeBits = 0x0F;
constexpr uint8_t maskBit = 0x80;
constexpr uint8_t lengthBits = 0x7F;
constexpr uint8_t continuationOpcode = 0;
constexpr uint8_t textOpcode = 1;
constexpr uint8_t binaryOpcode = 2;
constexpr uint8_t controlBit = 0x08;
constexpr uint8_t closeOpcode = 8;
constexpr uint8_t pongOpcode = 10;
constexpr std::size_t maxControlBytes = 125;
// Room for an audio block of 4096 frames without growing.
constexpr std::size_t reservedBinaryBytes = 32768;
// Two blocks of the largest size (16384 frames, two channels in, two out).
constexpr std::size_t keptBinaryBytes = 2 * 8 * 16384;
constexpr std::size_t keptTextBytes = 64 * 1024;

// The statuses a client may close with: those RFC 6455 defines for sending,
// the three registered since (1012 to 1014), and the ranges left to
// libraries and applications. 1004 to 1006 and 1015 are never sent.
bool isValidCloseCode(uint16_t code) {
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) ||
           (code >= 3000 && code <= 4999);
}

// XORs the key in place, starting `phase` bytes into it; eight bytes a step,
// since every byte of every message passes here.
void unmask(uint8_t* data, std::size_t length, const uint8_t* key, unsigned phase) {
    uint8_t rotated[8];
    for (unsigned i = 0; i < 8; ++i) rotated[i] = key[(phase + i) & 3];
    uint64_t wide;
    std::memcpy(&wide, rotated, sizeof wide);
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, sizeof word);
        word ^= wide;
        std::memcpy(data + i, &word, sizeof word);
    }
    for (; i < length; ++i) data[i] ^= rotated[i & 7];
}

// Room for `more` bytes. Grows at least twofold (up to the limit), so a
// message of many small frames does not copy itself once per frame.
template <typename Buffer>
void reserveFor(Buffer& buffer, std::size_t more, std::size_t limit) {
    const std::size_t wanted = buffer.size() + more;
    if (wanted <= buffer.capacity()) return;
    buffer.reserve(std::max(wanted, std::min(2 * buffer.capacity(), limit)));
}

}  // namespace

FrameJoiner::FrameJoiner() {
    binaryMessage.reserve(reservedBinaryBytes);
}

FrameJoiner::Step FrameJoiner::push(uint8_t* data, std::size_t length, std::size_t& taken) {
    taken = 0;
    while (taken < length) {
        if (inPayload) {
            std::size_t got = 0;
            const Step step = takePayload(data + taken, length - taken, got);
            taken += got;
            if (step.outcome != Outcome::More) return step;
            continue;
        }
        const std::size_t wanted = std::min(headerLength - headerHave, length - taken);
        std::memcpy(header + headerHave, data + taken, wanted);
        const bool started = headerHave >= 2;
        headerHave += wanted;
        taken += wanted;
        if (!started && headerHave == 2) {
            const Step step = checkStart();
            if (step.outcome != Outcome::More) return step;
        }
        if (headerHave < headerLength) continue;
        const Step step = checkHeader();
        if (step.outcome != Outcome::More) return step;
    }
    return {Outcome::More};
}

FrameJoiner::Step FrameJoiner::checkStart() {
    const uint8_t bits = header[0];
    const uint8_t opcode = bits & opcodeBits;
    const uint8_t length = header[1] & lengthBits;
    const bool masked = (header[1] & maskBit) != 0;
    headerLength = 2 + (length == 126 ? 2 : length == 127 ? 8 : 0) + (masked ? 4 : 0);
    if (closing) return {Outcome::More};
    // No extension was negotiated, so no reserved bit may be set.
    if (bits & reservedBits) return closeWith(protocolError);
    // A client masks every frame (RFC 6455, 5.1).
    if (!masked) return closeWith(protocolError);
    if (opcode & controlBit) {
        // Control frames are never fragmented and carry at most 125 bytes.
        if (opcode > pongOpcode || !(bits & finalBit) || length > maxControlBytes)
            return closeWith(protocolError);
        return {Outcome::More};
    }
    if (opcode == continuationOpcode) {
        if (messageOpcode == 0) return closeWith(protocolError);
    } else if (opcode == textOpcode || opcode == binaryOpcode) {
        if (messageOpcode != 0) return closeWith(protocolError);
        messageOpcode = opcode;
    } else {
        return closeWith(protocolError);
    }
    return {Outcome::More};
}

FrameJoiner::Step FrameJoiner::checkHeader() {
    const uint8_t length = header[1] & lengthBits;
    uint64_t declared = length;
    if (length >= 126) {
        declared = 0;
        const std::size_t bytes = length == 126 ? 2 : 8;
        for (std::size_t i = 0; i < bytes; ++i) declared = (declared << 8) | header[2 + i];
    }
    inPayload = true;
    payloadLeft = declared;
    maskPhase = 0;
    controlHave = 0;
    if (payloadLeft == 0) return endFrame();
    if (closing || (header[0] & controlBit)) return {Outcome::More};
    // The most significant bit of a 64-bit length is always 0.
    if (declared >> 63) return closeWith(protocolError);
    // Refused before any of it arrives; what is allowed is reserved at once
    // (untouched pages cost nothing until the bytes come).
    try {
        if (messageOpcode == textOpcode) {
            if (declared > maxTextBytes - textMessage.size()) return closeWith(tooBig);
            reserveFor(textMessage, declared, maxTextBytes);
        } else {
            if (declared > maxBinaryBytes - binaryMessage.size()) return closeWith(tooBig);
            reserveFor(binaryMessage, declared, maxBinaryBytes);
        }
    } catch (const std::bad_alloc&) {
        return closeWith(tooBig);
    }
    return {Outcome::More};
}

FrameJoiner::Step FrameJoiner::takePayload(uint8_t* data, std::size_t length, std::size_t& taken) {
    taken = static_cast<std::size_t>(std::min<uint64_t>(length, payloadLeft));
    payloadLeft -= taken;
    if (!closing) {
        const bool masked = (header[1] & maskBit) != 0;
        if (masked) unmask(data, taken, header + headerLength - 4, maskPhase);
        maskPhase = (maskPhase + taken) & 3;
        if (header[0] & controlBit) {
            std::memcpy(controlPayload + controlHave, data, taken);
            controlHave += taken;
        } else if (messageOpcode == textOpcode) {
            textMessage.append(reinterpret_cast<const char*>(data), taken);
        } else {
            binaryMessage.insert(binaryMessage.end(), data, data + taken);
        }
    }
    if (payloadLeft > 0) return {Outcome::More};
    return endFrame();
}

FrameJoiner::Step FrameJoiner::endFrame() {
    inPayload = false;
    headerHave = 0;
    headerLength = 2;
    const uint8_t bits = header[0];
    const uint8_t opcode = bits & opcodeBits;
    if (closing) {
        if (opcode == closeOpcode) return {Outcome::ClientClose, 0};
        return {Outcome::More};
    }
    if (opcode & controlBit) return endControlFrame();
    if (!(bits & finalBit)) return {Outcome::More};
    const bool wasText = messageOpcode == textOpcode;
    messageOpcode = 0;
    if (wasText) {
        if (!isValidUtf8(textMessage)) return closeWith(invalidText);
        return {Outcome::Text};
    }
    return {Outcome::Binary};
}

FrameJoiner::Step FrameJoiner::endControlFrame() {
    if ((header[0] & opcodeBits) != closeOpcode) {
        // A ping or pong ends the connection, and a partial message with it.
        return closeWith(0);
    }
    uint16_t answer = 0;
    if (controlHave == 1) {
        answer = protocolError;
    } else if (controlHave >= 2) {
        const uint16_t code = static_cast<uint16_t>((controlPayload[0] << 8) | controlPayload[1]);
        const std::string_view reason(reinterpret_cast<const char*>(controlPayload) + 2,
                                      controlHave - 2);
        answer = !isValidCloseCode(code) ? protocolError
                 : !isValidUtf8(reason)  ? invalidText
                                         : code;
    }
    release();
    closing = true;
    return {Outcome::ClientClose, answer};
}

FrameJoiner::Step FrameJoiner::closeWith(uint16_t status) {
    release();
    closing = true;
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
