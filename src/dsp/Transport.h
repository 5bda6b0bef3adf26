// The workstation's transport as a block carries it, and the outgoing
// events a plug-in sends during a block.
#pragma once

#include <cstdint>

namespace Vexa::DSP {

struct Transport {
    bool playing = false;
    bool recording = false;
    bool cycle = false;
    int32_t numerator = 4;
    int32_t denominator = 4;
    double tempo = 120.0;   // BPM
    double position = 0.0;  // quarter notes
    double barStart = 0.0;  // quarter notes
    double cycleStart = 0.0;
    double cycleEnd = 0.0;
    double samplePosition = 0.0;  // frames
};

// Told of each MIDI or SysEx message the plug-in sends during a block, on
// the audio thread: must neither block nor allocate.
class OutgoingEventListener {
public:
    // frame: within the block (0 to its last frame); bytes: the message.
    virtual void onOutgoingEvent(uint32_t frame, const uint8_t* bytes, uint32_t size) = 0;

protected:
    ~OutgoingEventListener() = default;
};

}  // namespace Vexa::DSP
