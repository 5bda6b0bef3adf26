// The memory a session shares with its plug-in process: one block of audio
// and MIDI going in, its result coming out. Laid out once at the largest
// block size, so a change of block size never moves it.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "bridge/BlockSignal.h"

namespace bridge {

constexpr uint32_t maxFrames = 16384;
constexpr uint32_t maxMidiEvents = 512;
constexpr uint32_t maxParameterChanges = 512;
// Parameters past this many are not brought back after a crash (their
// values still are, where the state holds them).
constexpr uint32_t maxKeptParameters = 8192;

struct SharedMidiEvent {
    int32_t words[4];  // status, data1, data2 and, when timed, the frame offset
    uint32_t count;
};

struct SharedParameterChange {
    uint32_t frame;
    int32_t index;
    float value;
};

// What a relaunch brings back besides the state: the program and every
// value changed since the state or the program was last set. The plug-in
// process writes it as things change; the program reads it only once that
// process is gone, and checks what it reads.
class KeptSettings {
public:
    // The plug-in process, any thread.
    void noteValue(int32_t index, float value) {
        if (index < 0 || static_cast<uint32_t>(index) >= maxKeptParameters) return;
        uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        // Stored inverted: a value in 0..1 never inverts to 0, which means unset.
        values[index].store(~bits, std::memory_order_relaxed);
    }
    void noteProgram(int32_t index) {
        forgetValues();
        program.store(static_cast<uint32_t>(index) + 1, std::memory_order_relaxed);
    }
    void forgetAll() {
        forgetValues();
        program.store(0, std::memory_order_relaxed);
    }

    // The program, once the plug-in process has ended.
    bool hasProgram() const { return program.load(std::memory_order_relaxed) != 0; }
    int32_t programIndex() const {
        return static_cast<int32_t>(program.load(std::memory_order_relaxed) - 1);
    }
    // Calls keep(index, value) for each value set, in index order.
    template <class Keep>
    void forEachValue(Keep keep) const {
        for (uint32_t i = 0; i < maxKeptParameters; ++i) {
            const uint32_t stored = values[i].load(std::memory_order_relaxed);
            if (stored == 0) continue;
            const uint32_t bits = ~stored;
            float value = 0.0f;
            std::memcpy(&value, &bits, sizeof value);
            if (value >= 0.0f && value <= 1.0f) keep(static_cast<int32_t>(i), value);
        }
    }

private:
    void forgetValues() {
        for (auto& value : values) value.store(0, std::memory_order_relaxed);
    }

    std::atomic<uint32_t> program;  // index + 1; 0: unset
    std::atomic<uint32_t> values[maxKeptParameters];
};

struct SharedBlock {
    WakeWord request;  // the program counts it up for every block
    WakeWord reply;    // the plug-in process copies request here when done
    int32_t result;    // a PluginSlot::Block
    uint32_t frames;   // this block's length, at most maxFrames
    uint32_t midiCount;
    SharedMidiEvent midi[maxMidiEvents];
    uint32_t parameterCount;
    SharedParameterChange parameters[maxParameterChanges];
    KeptSettings kept;
    // The plug-in reads and writes these in place; its vector loads may
    // assume aligned channels (the mapping itself starts on a page).
    alignas(64) float input[2][maxFrames];
    alignas(64) float output[2][maxFrames];
};

static_assert(std::atomic<uint32_t>::is_always_lock_free,
              "the wake word and kept settings must live in shared memory");

}  // namespace bridge
