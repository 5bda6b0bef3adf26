#include "pluginhost/AudioLoop.h"

#include <algorithm>

#include "bridge/BlockSignal.h"
#include "host/TransportRecord.h"

AudioLoop::AudioLoop(bridge::SharedRegion& region, InProcessSlot& slot)
    : block(region.block()), slot(slot) {
    const bridge::ChannelLayout& layout = region.layout();
    for (uint32_t c = 0; c < layout.inputs; ++c) inputs.push_back(region.input(c));
    for (uint32_t c = 0; c < layout.outputs; ++c) outputs.push_back(region.output(c));
    slot.setLayout(layout);
}

void AudioLoop::takeRecords() {
    const uint32_t events = block.midiCount <= bridge::maxMidiEvents ? block.midiCount : 0;
    for (uint32_t i = 0; i < events; ++i) slot.queueMidi(block.midi[i].words, block.midi[i].count);
    const uint32_t changes =
        block.parameterCount <= bridge::maxParameterChanges ? block.parameterCount : 0;
    for (uint32_t i = 0; i < changes; ++i) {
        const bridge::SharedParameterChange change = block.parameters[i];
        slot.queueParameter(change.frame, change.index, change.value);
        block.kept.noteValue(change.index, change.value);
    }
    if (block.transport.given) slot.queueTransport(transportOf(block.transport));
}

void AudioLoop::run() {
    // Whatever was asked and not yet answered is due, even a block sent
    // before this thread began.
    uint32_t seen = block.reply.load(std::memory_order_acquire);
    for (;;) {
        const uint32_t ticket = bridge::awaitChange(block.request, seen, 1000, spin);
        if (ticket == seen) continue;
        seen = ticket;
        takeRecords();
        const uint32_t frames = std::min(block.frames, bridge::maxFrames);
        block.result = static_cast<int32_t>(slot.process(inputs.data(), outputs.data(), frames));
        block.midiOut.copyCheckedFrom(slot.midiOut());
        bridge::publish(block.reply, ticket);
    }
}
