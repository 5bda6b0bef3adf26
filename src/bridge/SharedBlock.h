// The memory a session shares with its plug-in process: one block of audio,
// MIDI, parameter changes and transport going in, its audio and MIDI coming
// out. Laid out once for the largest block size and the session's channels
// (SharedRegion), so a change of block size never moves it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bridge/BlockSignal.h"

namespace bridge {

constexpr uint32_t maxFrames = 16384;
constexpr uint32_t maxMidiEvents = 512;
constexpr uint32_t maxParameterChanges = 512;
constexpr uint32_t maxChannels = 128;  // each way
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

// The channels a session's blocks carry each way, 1 to maxChannels.
struct ChannelLayout {
    uint32_t inputs = 2;
    uint32_t outputs = 2;
    bool operator==(const ChannelLayout& other) const {
        return inputs == other.inputs && outputs == other.outputs;
    }
    bool operator!=(const ChannelLayout& other) const { return !(*this == other); }
    bool valid() const {
        return inputs >= 1 && inputs <= maxChannels && outputs >= 1 && outputs <= maxChannels;
    }
};

// The workstation's transport for one block (docs/protocol.md, record 3).
// Aligned alike for both word sizes (32-bit x86 would place doubles on 4).
struct alignas(8) SharedTransport {
    uint32_t flags;  // 1 playing, 2 recording, 4 cycle on
    int32_t numerator;
    int32_t denominator;
    uint32_t given;  // 0: the block has none
    double tempo;
    double position;
    double barStart;
    double cycleStart;
    double cycleEnd;
    double samplePosition;
};

// The MIDI and SysEx messages a plug-in sent during one block, in the
// order sent, their bytes in one pool. Fixed room, so the audio thread
// never allocates; what does not fit is dropped.
struct MidiOut {
    static constexpr uint32_t maxEvents = 512;
    static constexpr uint32_t maxSysexBytes = 16384;  // in one block
    static constexpr uint32_t maxSysexMessage = 4092;
    static constexpr uint32_t poolBytes = maxSysexBytes + 3 * maxEvents;

    struct Event {
        uint32_t frame;
        uint32_t offset;  // in pool
        uint32_t size;
    };

    uint32_t count;
    uint32_t poolUsed;
    uint32_t sysexUsed;
    Event events[maxEvents];
    uint8_t pool[poolBytes];

    void clear() { count = poolUsed = sysexUsed = 0; }
    // A short message (1 to 3 bytes) or a SysEx; false when dropped.
    bool add(uint32_t frame, const uint8_t* bytes, uint32_t size) {
        const bool sysex = size > 3;
        if (size == 0 || count >= maxEvents ||
            (sysex && (size > maxSysexMessage || sysexUsed + size > maxSysexBytes)))
            return false;
        std::memcpy(pool + poolUsed, bytes, size);
        events[count++] = {frame, poolUsed, size};
        poolUsed += size;
        if (sysex) sysexUsed += size;
        return true;
    }
    // What another side wrote, checked: a count or an event that points past
    // the pool makes the whole list unreadable.
    bool copyCheckedFrom(const MidiOut& written) {
        clear();
        const uint32_t claimed = written.count;
        if (claimed > maxEvents) return false;
        for (uint32_t i = 0; i < claimed; ++i) {
            const Event event = written.events[i];
            if (event.offset > poolBytes || event.size > poolBytes - event.offset) return false;
            add(event.frame, written.pool + event.offset, event.size);
        }
        return true;
    }
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
    SharedTransport transport;
    MidiOut midiOut;  // the plug-in process's, for each block
    KeptSettings kept;
    // Written by the program before the plug-in process starts; the audio
    // follows the block (SharedRegion): inputs, then outputs, maxFrames each.
    ChannelLayout layout;
};

// Where the audio starts after the block; the plug-in reads and writes it
// in place, and its vector loads may assume aligned channels (the mapping
// itself starts on a page).
constexpr std::size_t audioOffset = (sizeof(SharedBlock) + 63) / 64 * 64;
constexpr std::size_t regionBytes(const ChannelLayout& layout) {
    return audioOffset + std::size_t(layout.inputs + layout.outputs) * maxFrames * sizeof(float);
}

static_assert(std::atomic<uint32_t>::is_always_lock_free,
              "the wake word and kept settings must live in shared memory");

// A 32-bit plug-in process maps the block of a 64-bit program: every field
// has a fixed width and the same place for both word sizes.
static_assert(sizeof(WakeWord) == 12 && offsetof(WakeWord, sleepers) == 4 &&
                  offsetof(WakeWord, event) == 8,
              "the wake word's layout");
static_assert(sizeof(SharedMidiEvent) == 20, "a MIDI event's layout");
static_assert(sizeof(SharedParameterChange) == 12 && sizeof(ChannelLayout) == 8 &&
                  sizeof(SharedTransport) == 64 && offsetof(SharedTransport, tempo) == 16 &&
                  sizeof(MidiOut) == 12 + 12 * MidiOut::maxEvents + MidiOut::poolBytes &&
                  sizeof(KeptSettings) == 4 + 4 * maxKeptParameters,
              "the block's parts' layouts");
constexpr std::size_t midiEnd = 36 + 20 * maxMidiEvents;
constexpr std::size_t transportAt = (midiEnd + 4 + 12 * maxParameterChanges + 7) / 8 * 8;
constexpr std::size_t layoutAt = transportAt + 64 + sizeof(MidiOut) + sizeof(KeptSettings);
static_assert(offsetof(SharedBlock, reply) == 12 && offsetof(SharedBlock, result) == 24 &&
                  offsetof(SharedBlock, frames) == 28 && offsetof(SharedBlock, midiCount) == 32 &&
                  offsetof(SharedBlock, midi) == 36 &&
                  offsetof(SharedBlock, parameterCount) == midiEnd &&
                  offsetof(SharedBlock, parameters) == midiEnd + 4 &&
                  offsetof(SharedBlock, transport) == transportAt &&
                  offsetof(SharedBlock, midiOut) == transportAt + 64 &&
                  offsetof(SharedBlock, kept) == transportAt + 64 + sizeof(MidiOut) &&
                  offsetof(SharedBlock, layout) == layoutAt &&
                  sizeof(SharedBlock) == (layoutAt + 8 + 7) / 8 * 8,
              "the shared block's layout");

}  // namespace bridge
