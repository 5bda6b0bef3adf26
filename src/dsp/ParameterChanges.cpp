#include "dsp/ParameterChanges.h"

namespace Vexa::DSP {

bool ParameterChanges::add(uint32_t frame, int32_t index, float value) {
    if (count >= capacity) return false;
    changes[count++] = {frame, index, value};
    return true;
}

void ParameterChanges::arrange() {
    // Insertion sort: stable, allocation-free, and the changes mostly come
    // in order already.
    for (std::size_t i = 1; i < count; ++i) {
        const Change moving = changes[i];
        std::size_t j = i;
        for (; j > 0 && changes[j - 1].frame > moving.frame; --j) changes[j] = changes[j - 1];
        changes[j] = moving;
    }
}

uint32_t ParameterChanges::landing(uint32_t frame, uint32_t start, uint32_t frames) {
    if (frame <= start || frame - start < shortestPiece) return start;
    if (frames < shortestPiece || frame > frames - shortestPiece) {
        const uint32_t late = frames >= shortestPiece ? frames - shortestPiece : 0;
        return late > start && late - start >= shortestPiece ? late : start;
    }
    return frame;
}

}  // namespace Vexa::DSP
