#include "ipc/FrameJoiner.h"

namespace {

constexpr int finalBit = 0x80;
constexpr int opcodeBits = 0x0F;
constexpr uint8_t textOpcode = 1;
constexpr uint8_t binaryOpcode = 2;
constexpr uint8_t closeOpcode = 8;
// Room for an audio block of 4096 frames without growing.
constexpr std::size_t reservedBinaryBytes = 32768;

}  // namespace

FrameJoiner::FrameJoiner() {
    binaryMessage.reserve(reservedBinaryBytes);
}

FrameJoiner::Step FrameJoiner::push(int headerBits, const char* data, std::size_t length) {
    if ((headerBits & opcodeBits) == closeOpcode) return {Outcome::Close};
    if (messageOpcode == 0) messageOpcode = static_cast<uint8_t>(headerBits & 0x7F);
    const bool final = (headerBits & finalBit) != 0;
    Step step{Outcome::Close};
    if (messageOpcode == textOpcode) {
        textMessage.append(data, length);
        step.outcome = final ? Outcome::Text : Outcome::More;
    } else if (messageOpcode == binaryOpcode) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(data);
        binaryMessage.insert(binaryMessage.end(), bytes, bytes + length);
        step.outcome = final ? Outcome::Binary : Outcome::More;
    }
    // Anything else (ping, pong, stray continuation, reserved bits) closes.
    if (final || step.outcome == Outcome::Close) messageOpcode = 0;
    return step;
}

void FrameJoiner::clear() {
    textMessage.clear();
    binaryMessage.clear();
    messageOpcode = 0;
}
