#include "pluginhost/AudioLoop.h"

#include <algorithm>

#include "bridge/BlockSignal.h"

void AudioLoop::run() {
    // Whatever was asked and not yet answered is due, even a block sent
    // before this thread began.
    uint32_t seen = block.reply.load(std::memory_order_acquire);
    for (;;) {
        const uint32_t ticket = bridge::awaitChange(block.request, seen, 1000, spin);
        if (ticket == seen) continue;
        seen = ticket;
        const uint32_t events = block.midiCount <= bridge::maxMidiEvents ? block.midiCount : 0;
        for (uint32_t i = 0; i < events; ++i)
            slot.queueMidi(block.midi[i].words, block.midi[i].count);
        const uint32_t changes =
            block.parameterCount <= bridge::maxParameterChanges ? block.parameterCount : 0;
        for (uint32_t i = 0; i < changes; ++i) {
            const bridge::SharedParameterChange change = block.parameters[i];
            slot.queueParameter(change.frame, change.index, change.value);
            block.kept.noteValue(change.index, change.value);
        }
        float* inputs[2] = {block.input[0], block.input[1]};
        float* outputs[2] = {block.output[0], block.output[1]};
        const uint32_t frames = std::min(block.frames, bridge::maxFrames);
        block.result = static_cast<int32_t>(slot.process(inputs, outputs, frames));
        bridge::publish(block.reply, ticket);
    }
}
