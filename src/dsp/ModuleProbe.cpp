#include "dsp/ModuleProbe.h"

#include <cstring>
#include <utility>
#include <vector>

#include "dsp/HostCallback.h"
#include "dsp/ModuleLoader.h"
#include "dsp/VST2Interface.h"

namespace Vexa::DSP {

using namespace VST2;

namespace {

intptr_t dispatch(AEffect* effect, int32_t opcode, int32_t index = 0, intptr_t value = 0,
                  void* ptr = nullptr) {
    return effect->dispatcher(effect, opcode, index, value, ptr, 0.0f);
}

// A string opcode's answer, cut at the buffer's end whatever the plug-in wrote.
std::string askText(AEffect* effect, int32_t opcode) {
    char text[kNameBufferSize] = {};
    dispatch(effect, opcode, 0, 0, text);
    text[sizeof text - 1] = '\0';
    return text;
}

bool can(AEffect* effect, const char* what) {
    return dispatch(effect, effCanDo, 0, 0, const_cast<char*>(what)) > 0;
}

bool isRecord(const AEffect* effect) {
    return effect && effect->magic == kEffectMagic && effect->dispatcher;
}

// Opens the plug-in and reads what it says about itself.
PluginFacts readOpened(AEffect* effect) {
    PluginFacts facts;
    dispatch(effect, effOpen);
    facts.uniqueId = effect->uniqueID;
    facts.name = askText(effect, effGetEffectName);
    facts.vendor = askText(effect, effGetVendorString);
    facts.product = askText(effect, effGetProductString);
    facts.version = static_cast<int32_t>(dispatch(effect, effGetVendorVersion));
    if (facts.version == 0) facts.version = effect->version;
    facts.category = static_cast<int32_t>(dispatch(effect, effGetPlugCategory));
    facts.synth = (effect->flags & effFlagsIsSynth) != 0;
    facts.inputs = effect->numInputs;
    facts.outputs = effect->numOutputs;
    facts.inputPins = readPinNames(effect, true);
    facts.outputPins = readPinNames(effect, false);
    facts.midiIn =
        facts.synth || can(effect, "receiveVstMidiEvent") || can(effect, "receiveVstEvents");
    facts.midiOut = can(effect, "sendVstMidiEvent") || can(effect, "sendVstEvents");
    facts.hasEditor = (effect->flags & effFlagsHasEditor) != 0;
    facts.parameters = effect->numParams;
    facts.programs = effect->numPrograms;
    facts.latency = effect->initialDelay;
    return facts;
}

// The plug-ins a shell lists: each one's id and the name it lists it under.
std::vector<std::pair<int32_t, std::string>> shellListing(AEffect* shell) {
    std::vector<std::pair<int32_t, std::string>> listed;
    // A shell that keeps answering ids is broken; a real one lists at most
    // a few hundred.
    constexpr std::size_t mostListed = 4096;
    for (;;) {
        char name[kNameBufferSize] = {};
        const auto id = static_cast<int32_t>(dispatch(shell, effShellGetNextPlugin, 0, 0, name));
        if (id == 0 || listed.size() == mostListed) break;
        name[sizeof name - 1] = '\0';
        listed.emplace_back(id, name);
    }
    return listed;
}

}  // namespace

std::string probeModule(const std::string& path,
                        const std::function<void(const PluginFacts&)>& onPlugin) {
    std::string failure;
    ModuleHandle module = openModule(path, failure);
    if (!module) return "the system could not load it: " + failure;
    void* symbol = findModuleSymbol(module, "VSTPluginMain");
    if (!symbol) symbol = findModuleSymbol(module, "main");
    if (!symbol) return "it has no VST 2 entry point";
    const auto entry = reinterpret_cast<EntryPoint>(symbol);

    AEffect* effect = nullptr;
    {
        ShellSelection none(0);
        effect = entry(hostCallback);
    }
    if (!effect) return "its entry point gave no plug-in";
    if (!isRecord(effect)) return "its entry point gave no VST 2 plug-in record";
    PluginFacts facts = readOpened(effect);
    if (facts.category != kPlugCategShell) {
        onPlugin(facts);
        return {};
    }
    // The shell stays open while its plug-ins are built: they may share it.
    bool any = false;
    for (const auto& [id, listedName] : shellListing(effect)) {
        // Held through the opening too: some ask again from effOpen.
        ShellSelection selection(id);
        AEffect* member = entry(hostCallback);
        if (!isRecord(member)) continue;
        PluginFacts memberFacts = readOpened(member);
        if (memberFacts.name.empty()) memberFacts.name = listedName;
        // The id it was built for is the one a load names, whatever the
        // record says.
        memberFacts.uniqueId = id;
        onPlugin(memberFacts);
        any = true;
    }
    return any ? std::string() : "it is a shell that lists no plug-in";
}

}  // namespace Vexa::DSP
