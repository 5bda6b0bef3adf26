// The memory a session shares with its plug-in process: one block of audio
// and MIDI going in, its result coming out. Laid out once at the largest
// block size, so a change of block size never moves it.
#pragma once

#include <atomic>
#include <cstdint>

#include "bridge/BlockSignal.h"

namespace bridge {

constexpr uint32_t maxFrames = 16384;
constexpr uint32_t maxMidiEvents = 512;

struct SharedMidiEvent {
    int32_t words[4];  // status, data1, data2 and, when timed, the frame offset
    uint32_t count;
};

struct SharedBlock {
    WakeWord request;  // the program counts it up for every block
    WakeWord reply;    // the plug-in process copies request here when done
    int32_t result;    // a PluginSlot::Block
    uint32_t frames;   // this block's length, at most maxFrames
    uint32_t midiCount;
    SharedMidiEvent midi[maxMidiEvents];
    // The plug-in reads and writes these in place; its vector loads may
    // assume aligned channels (the mapping itself starts on a page).
    alignas(64) float input[2][maxFrames];
    alignas(64) float output[2][maxFrames];
};

static_assert(std::atomic<uint32_t>::is_always_lock_free,
              "the wake word must live in shared memory");

}  // namespace bridge
