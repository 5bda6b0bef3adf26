// The memory a session shares with its plug-in process: one block of audio
// and MIDI going in, its result coming out. Laid out once at the largest
// block size, so a change of block size never moves it.
#pragma once

#include <atomic>
#include <cstddef>
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

// A 32-bit plug-in process maps the block of a 64-bit program: every field
// has a fixed width and the same place for both word sizes.
static_assert(sizeof(WakeWord) == 12 && offsetof(WakeWord, sleepers) == 4 &&
                  offsetof(WakeWord, event) == 8,
              "the wake word's layout");
static_assert(sizeof(SharedMidiEvent) == 20, "a MIDI event's layout");
constexpr std::size_t midiEnd = 36 + 20 * maxMidiEvents;
static_assert(offsetof(SharedBlock, reply) == 12 && offsetof(SharedBlock, result) == 24 &&
                  offsetof(SharedBlock, frames) == 28 && offsetof(SharedBlock, midiCount) == 32 &&
                  offsetof(SharedBlock, midi) == 36 &&
                  offsetof(SharedBlock, input) == (midiEnd + 63) / 64 * 64 &&
                  offsetof(SharedBlock, output) ==
                      offsetof(SharedBlock, input) + 2 * 4 * maxFrames &&
                  sizeof(SharedBlock) == offsetof(SharedBlock, output) + 2 * 4 * maxFrames,
              "the shared block's layout");

}  // namespace bridge
