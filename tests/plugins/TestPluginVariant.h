// What sets one test plug-in apart from the others. The body of the plug-in
// (TestPlugin.cpp) is compiled once; each module adds a small entry file
// (TestPluginEntry.cpp) that defines its variant and exports its entry points.
#pragma once

#include "dsp/VST2Interface.h"

namespace TestPlugin {

enum class Render {
    Gain,        // replacing, out[c] = 0.5 * in[c]
    Synth,       // replacing, level of the held MIDI notes
    Accumulate,  // accumulating entry only, out[c] += 0.25 * in[c]
    MixDown,     // replacing, out[c] = 0.5 * (in0 + in1); checks extra inputs
    Constant,    // replacing, out[c] = 0.125 on every declared output
    StateGain,   // replacing, out[c] = in[c] * (byte 8 of the chunk) / 64
};
enum class Result { Ok, Null, BadMagic };        // Null: no record; BadMagic: a wrong magic
enum class Editor { None, Plain, SizeRequest };  // SizeRequest asks the host to resize
// Misbehaviour: where it happens, and what happens there. In the process
// call it happens only on a block whose first left sample is -999.
enum class FaultAt { Nowhere, InProcess, InOpen, InEditOpen, InGetChunk, InClose };
enum class Fault { NullWrite, Abort, Exit, Hang };  // Exit: exit(3)

struct Variant {
    const char* kind;
    int inputs;
    int outputs;
    int latency;
    Render render;
    bool chunks;
    Editor editor;
    Result result;
    FaultAt faultAt;
    Fault fault;
    // A shell module: the entry point builds the plug-in whose id the host
    // answers audioMasterCurrentId with, or with 0 the shell, which lists
    // two (shellMembers).
    bool shell;
};

constexpr int32_t shellMembers[] = {0x53684131, 0x53684232};  // 'ShA1', 'ShB2'

extern const Variant variant;

Vexa::DSP::VST2::AEffect* enter(Vexa::DSP::VST2::HostCallback host, const char* via);

// At effEditClose, whether the window given at effEditOpen still exists:
// "open", "gone", or "unknown" when the window system cannot be asked.
const char* parentWindowState(void* parent);  // ParentWindow*.cpp

}  // namespace TestPlugin
