// The parameter changes one block carries, and where each lands: the block
// is processed in pieces split at the changes' frames, none shorter than
// shortestPiece, so a change lands on its frame without cutting the block
// into slivers that cost a plug-in call each.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace Vexa::DSP {

class ParameterChanges {
public:
    static constexpr std::size_t capacity = 512;
    static constexpr uint32_t shortestPiece = 32;

    struct Change {
        uint32_t frame;
        int32_t index;
        float value;
    };

    // The audio thread, before the block. False when the block has no room
    // left (the change is dropped).
    bool add(uint32_t frame, int32_t index, float value);
    // Into frame order, changes on one frame in the order they came.
    void arrange();
    std::size_t size() const { return count; }
    const Change& operator[](std::size_t i) const { return changes[i]; }
    void clear() { count = 0; }

    // Where a change meant for frame lands in a block of frames frames
    // whose current piece starts at start (frame >= start): at its frame,
    // or earlier, at the piece's start or shortestPiece before the block's
    // end, when that frame would leave a piece too short.
    static uint32_t landing(uint32_t frame, uint32_t start, uint32_t frames);

private:
    std::array<Change, capacity> changes{};
    std::size_t count = 0;
};

}  // namespace Vexa::DSP
