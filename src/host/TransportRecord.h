// The transport as the plug-in's side takes it, and as the shared block
// carries it to a plug-in process: one conversion each way.
#pragma once

#include "bridge/SharedBlock.h"
#include "dsp/Transport.h"

inline bridge::SharedTransport sharedTransport(const Vexa::DSP::Transport& given) {
    bridge::SharedTransport shared{};
    shared.flags =
        (given.playing ? 1u : 0u) | (given.recording ? 2u : 0u) | (given.cycle ? 4u : 0u);
    shared.numerator = given.numerator;
    shared.denominator = given.denominator;
    shared.given = 1;
    shared.tempo = given.tempo;
    shared.position = given.position;
    shared.barStart = given.barStart;
    shared.cycleStart = given.cycleStart;
    shared.cycleEnd = given.cycleEnd;
    shared.samplePosition = given.samplePosition;
    return shared;
}

inline Vexa::DSP::Transport transportOf(const bridge::SharedTransport& shared) {
    Vexa::DSP::Transport transport;
    transport.playing = (shared.flags & 1u) != 0;
    transport.recording = (shared.flags & 2u) != 0;
    transport.cycle = (shared.flags & 4u) != 0;
    transport.numerator = shared.numerator;
    transport.denominator = shared.denominator;
    transport.tempo = shared.tempo;
    transport.position = shared.position;
    transport.barStart = shared.barStart;
    transport.cycleStart = shared.cycleStart;
    transport.cycleEnd = shared.cycleEnd;
    transport.samplePosition = shared.samplePosition;
    return transport;
}
