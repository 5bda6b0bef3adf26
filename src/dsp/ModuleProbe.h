// Reading what a module's plug-ins say about themselves: names, channels,
// category, editor, without switching any of them on. Meant for a process
// of its own (the plug-in process's probe mode): the plug-in's code runs
// here and may crash or hang.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dsp/PinNames.h"

namespace Vexa::DSP {

// One plug-in as it describes itself once opened.
struct PluginFacts {
    int32_t uniqueId = 0;
    std::string name;    // its own, else the name its shell lists it under; may be empty
    std::string vendor;  // these texts are the plug-in's bytes, not checked as UTF-8
    std::string product;
    int32_t version = 0;
    int32_t category = 0;  // VST2::PlugCategory, as the plug-in answers it
    bool synth = false;    // effFlagsIsSynth
    int32_t inputs = 0;
    int32_t outputs = 0;
    std::vector<PinDescription> inputPins;  // empty when it names none
    std::vector<PinDescription> outputPins;
    bool midiIn = false;   // a synth, or one that can receive events
    bool midiOut = false;  // one that can send events
    bool hasEditor = false;
    int32_t parameters = 0;
    int32_t programs = 0;
    int32_t latency = 0;  // samples, as declared after opening
};

// Loads the module, opens its plug-in (or, for a shell module, each plug-in
// it lists) and hands each one's facts to onPlugin as soon as they are read,
// so those read before a crash are not lost. Nothing is closed or unloaded:
// the process ends right after, and a plug-in's close is one more place
// for it to crash or hang. Returns why the module holds no plug-in, or
// empty when onPlugin was called at least once.
std::string probeModule(const std::string& path,
                        const std::function<void(const PluginFacts&)>& onPlugin);

}  // namespace Vexa::DSP
