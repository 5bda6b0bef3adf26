// A test plug-in with parameters and programs and no chunk, whose output is
// its input times its gain, so a test hears on which frame a change landed.
//
// Parameters: 0 "Gain" (the output's gain, "%"), 1 "Mode" (a switch),
// 2 "Steps" (a whole number 0 to 4), 3 "Drive" (not automatable). Programs:
// "Unity", "Half", "Quiet", each with its own gain.
//
// It moves its own controls as a user would, to test the way back:
// - from its audio thread, on a note-on of key 100 (touch Gain, move it to
//   0.2, 0.4 and 0.6 in one block, let go), key 101 (tells the host its
//   parameters changed as a whole) or key 102 (crashes);
// - from its editor's thread, at each effEditIdle, the moves written to the
//   file $CORVEL_TEST_EDITOR_MOVES as lines "index value" (the file is
//   consumed), each touched, moved and let go.
//
// Keep it portable: it also builds as a Windows DLL with mingw-w64.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "dsp/VST2Interface.h"

using namespace Vexa::DSP::VST2;

namespace {

constexpr int32_t parameterCount = 4;
constexpr int32_t programCount = 3;
const char* const parameterNames[parameterCount] = {"Gain", "Mode", "Steps", "Drive"};
const float programGains[programCount] = {1.0f, 0.5f, 0.1f};

struct Plugin {
    AEffect effect{};
    HostCallback host = nullptr;
    std::mutex valuesMutex;  // the editor's thread and the host's set them
    float values[parameterCount] = {1.0f, 0.0f, 0.0f, 0.0f};
    int32_t program = 0;
    char programNames[programCount][32] = {"Unity", "Half", "Quiet"};
    ERect rect{0, 0, 200, 300};
    // Set by effProcessEvents, acted on in the next processReplacing.
    bool touchFromAudio = false;
    bool updateFromAudio = false;
    bool crash = false;
};

Plugin* self(AEffect* effect) {
    return static_cast<Plugin*>(effect->object);
}

void tellHost(Plugin* plugin, int32_t opcode, int32_t index = 0, float value = 0.0f) {
    plugin->host(&plugin->effect, opcode, index, 0, nullptr, value);
}

void setValue(Plugin* plugin, int32_t index, float value) {
    if (index < 0 || index >= parameterCount) return;
    std::lock_guard<std::mutex> lock(plugin->valuesMutex);
    plugin->values[index] = value;
}

float getValue(Plugin* plugin, int32_t index) {
    if (index < 0 || index >= parameterCount) return 0.0f;
    std::lock_guard<std::mutex> lock(plugin->valuesMutex);
    return plugin->values[index];
}

// A move as an editor makes it: touch, change, tell, let go.
void moveAsUser(Plugin* plugin, int32_t index, float value) {
    tellHost(plugin, audioMasterBeginEdit, index);
    setValue(plugin, index, value);
    tellHost(plugin, audioMasterAutomate, index, value);
    tellHost(plugin, audioMasterEndEdit, index);
}

void readEditorMoves(Plugin* plugin) {
    const char* path = std::getenv("CORVEL_TEST_EDITOR_MOVES");
    if (!path || !*path) return;
    // Taken by renaming, so a test writing the next file never races this read.
    char taken[4200];
    std::snprintf(taken, sizeof taken, "%s.taken", path);
    if (std::rename(path, taken) != 0) return;
    if (FILE* file = std::fopen(taken, "r")) {
        int index = 0;
        float value = 0.0f;
        while (std::fscanf(file, "%d %f", &index, &value) == 2) moveAsUser(plugin, index, value);
        std::fclose(file);
    }
    std::remove(taken);
}

void copyText(void* ptr, const char* text) {
    std::snprintf(static_cast<char*>(ptr), 24, "%s", text);
}

void display(Plugin* plugin, int32_t index, char* into) {
    const float value = getValue(plugin, index);
    switch (index) {
        case 0:
            std::snprintf(into, 8, "%.1f", static_cast<double>(value) * 100.0);
            break;
        case 1:
            std::snprintf(into, 8, "%s", value >= 0.5f ? "On" : "Off");
            break;
        case 2:
            std::snprintf(into, 8, "%ld", std::lround(value * 4.0f));
            break;
        default:
            std::snprintf(into, 8, "%.2f", static_cast<double>(value));
            break;
    }
}

intptr_t properties(int32_t index, VstParameterProperties* into) {
    if (!into || index < 1 || index > 2) return 0;  // Gain and Drive offer none
    std::memset(into, 0, sizeof *into);
    into->flags = kVstParameterSupportsDisplayCategory |
                  (index == 1 ? kVstParameterIsSwitch : kVstParameterUsesIntegerMinMax);
    into->minInteger = 0;
    into->maxInteger = index == 2 ? 4 : 1;
    into->category = 1;
    into->numParametersInCategory = 2;
    std::snprintf(into->categoryLabel, sizeof into->categoryLabel, "Shape");
    return 1;
}

intptr_t dispatcher(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                    float) {
    Plugin* plugin = self(effect);
    switch (opcode) {
        case effClose:
            delete plugin;
            return 0;
        case effSetProgram:
            if (value < 0 || value >= programCount) return 0;
            plugin->program = static_cast<int32_t>(value);
            setValue(plugin, 0, programGains[value]);
            return 0;
        case effGetProgram:
            return plugin->program;
        case effSetProgramName:
            std::snprintf(plugin->programNames[plugin->program], 32, "%s",
                          static_cast<const char*>(ptr));
            return 0;
        case effGetProgramName:
            copyText(ptr, plugin->programNames[plugin->program]);
            return 0;
        case effGetProgramNameIndexed:
            if (index < 0 || index >= programCount) return 0;
            copyText(ptr, plugin->programNames[index]);
            return 1;
        case effGetParamLabel:
            copyText(ptr, index == 0 ? "%" : "");
            return 0;
        case effGetParamDisplay:
            display(plugin, index, static_cast<char*>(ptr));
            return 0;
        case effGetParamName:
            if (index >= 0 && index < parameterCount) copyText(ptr, parameterNames[index]);
            return 0;
        case effCanBeAutomated:
            return index != 3 ? 1 : 0;
        case effGetParameterProperties:
            return properties(index, static_cast<VstParameterProperties*>(ptr));
        case effEditGetRect:
            if (ptr) *static_cast<ERect**>(ptr) = &plugin->rect;
            return 1;
        case effEditOpen:
            return 1;
        case effEditIdle:
            readEditorMoves(plugin);
            return 0;
        case effProcessEvents: {
            const auto* events = static_cast<const VstEvents*>(ptr);
            for (int32_t i = 0; i < events->numEvents; ++i) {
                const auto* midi = reinterpret_cast<const VstMidiEvent*>(events->events[i]);
                if ((midi->midiData[0] & 0xF0) != 0x90 || midi->midiData[2] == 0) continue;
                plugin->touchFromAudio |= midi->midiData[1] == 100;
                plugin->updateFromAudio |= midi->midiData[1] == 101;
                plugin->crash |= midi->midiData[1] == 102;
            }
            return 1;
        }
        case effGetEffectName:
            copyText(ptr, "Parameter Test");
            return 1;
        default:
            return 0;
    }
}

void setParameter(AEffect* effect, int32_t index, float value) {
    setValue(self(effect), index, value);
}

float getParameter(AEffect* effect, int32_t index) {
    return getValue(self(effect), index);
}

// Not checked by the undefined-behaviour sanitizer: the null write must
// reach the hardware and end the process with its signal.
__attribute__((no_sanitize_undefined)) void crashNow() {
    // NOLINTNEXTLINE(clang-analyzer-core.NullDereference): the fault is the point
    *static_cast<volatile int*>(nullptr) = 1;
}

void processReplacing(AEffect* effect, float** inputs, float** outputs, int32_t frames) {
    Plugin* plugin = self(effect);
    if (plugin->crash) crashNow();
    if (plugin->touchFromAudio) {
        plugin->touchFromAudio = false;
        tellHost(plugin, audioMasterBeginEdit, 0);
        for (const float value : {0.2f, 0.4f, 0.6f}) {
            setValue(plugin, 0, value);
            tellHost(plugin, audioMasterAutomate, 0, value);
        }
        tellHost(plugin, audioMasterEndEdit, 0);
    }
    if (plugin->updateFromAudio) {
        plugin->updateFromAudio = false;
        tellHost(plugin, audioMasterUpdateDisplay);
    }
    const float gain = getValue(plugin, 0);
    for (int c = 0; c < 2; ++c)
        for (int32_t i = 0; i < frames; ++i) outputs[c][i] = gain * inputs[c][i];
}

void processAccumulating(AEffect*, float**, float**, int32_t) {}

AEffect* create(HostCallback host) {
    if (!host) return nullptr;
    auto* plugin = new Plugin;
    plugin->host = host;
    AEffect& effect = plugin->effect;
    effect.magic = kEffectMagic;
    effect.dispatcher = dispatcher;
    effect.process = processAccumulating;
    effect.setParameter = setParameter;
    effect.getParameter = getParameter;
    effect.numPrograms = programCount;
    effect.numParams = parameterCount;
    effect.numInputs = 2;
    effect.numOutputs = 2;
    effect.flags = effFlagsCanReplacing | effFlagsHasEditor;
    effect.object = plugin;
    effect.uniqueID = 0x50617231;  // 'Par1'
    effect.version = 1;
    effect.processReplacing = processReplacing;
    return &effect;
}

}  // namespace

#if defined(_WIN32)
#define PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

PLUGIN_EXPORT AEffect* VSTPluginMain(HostCallback host) {
    return create(host);
}
