// What a plug-in tells its host about its parameters on its own: a change
// it made (the user turned a control in its editor, or it automates
// itself), a touch of a control, or that its parameters changed as a whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace Vexa::DSP {

struct ParameterEvent {
    // ioChanged: its channels or latency changed (audioMasterIOChanged).
    enum class Kind : uint8_t { change, begin, end, setChanged, ioChanged };
    Kind kind = Kind::change;
    int32_t index = 0;   // unused for setChanged
    float value = 0.0f;  // change only
};

// Told on whatever thread the plug-in reports from.
class ParameterEventListener {
public:
    // Reported outside a block: from the editor, or a thread of the plug-in's
    // own. May block briefly; the caller is not the audio thread.
    virtual void onParameterEvent(const ParameterEvent& event) = 0;
    // The audio thread, after a block in which the plug-in reported events,
    // already merged (BlockEvents). Must neither block nor allocate; returns
    // how many of the first events it took, and the rest are offered again
    // after the next block.
    virtual std::size_t onBlockEvents(const ParameterEvent* events, std::size_t count) = 0;

protected:
    ~ParameterEventListener() = default;
};

// The events a plug-in reports during one block, as the audio thread keeps
// them: changes of one parameter between its touches merge into the last,
// touches are kept in order. Fixed room, so the audio thread never
// allocates; changes leave room for touches.
class BlockEvents {
public:
    static constexpr std::size_t capacity = 256;
    static constexpr std::size_t changeRoom = capacity - 64;

    // Audio thread. False when it had no room (the event is lost).
    bool add(const ParameterEvent& event);
    const ParameterEvent* data() const { return events.data(); }
    std::size_t size() const { return count; }
    // Drops the first taken events, keeping the rest in order.
    void dropFirst(std::size_t taken);

private:
    std::array<ParameterEvent, capacity> events{};
    std::size_t count = 0;
};

}  // namespace Vexa::DSP
