// Test plug-ins for what a host offers beyond blocks of stereo audio: its
// transport, its process level, MIDI from the plug-in, and channels past
// the first pair. One source, one module per variant (CMakeLists.txt sets
// HOST_FEATURE_VARIANT); each output tells a test what the plug-in heard.
//
// - transport (2 in, 4 out): output 0 = tempo / 1000, output 1 = the
//   position in quarter notes at the block's start / 100, output 2 = the
//   sample position at the block's start / 1e6, output 3 = the process
//   level / 10 (0.2 real-time, 0.4 offline); -1 where the host gave none.
//   A note-on of key 101 makes its next block take 2.5 s, as a plug-in
//   rendering at its best quality may.
// - arpeggiator (2 in, 2 out, passes audio): for each note-on of key k at
//   frame f, sends note-ons of keys k, k+4 and k+7 at frames f, f+16 and
//   f+32 (at most the block's last frame), and a SysEx F0 7D 01 k F7 at f.
// - sidechain (4 in, 4 out, named pins): out0 = in0 + in2, out1 = in1 +
//   in3, out2 = in2, out3 = in3.
// - multiout (an instrument, 2 in, 16 out): output c = (c + 1) / 100.
// - iochange (2 in, 2 out, passes audio): a note-on of key 100 makes it 4
//   outputs (the new two silent) with a latency of 32, told to the host.
//
// Keep it portable: it also builds as a Windows DLL with mingw-w64.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "dsp/VST2Interface.h"

using namespace Vexa::DSP::VST2;

namespace {

enum class Variant { transport, arpeggiator, sidechain, multiout, iochange };
constexpr Variant variant = Variant::HOST_FEATURE_VARIANT;

struct Note {
    int32_t frame;
    unsigned char key;
};

struct Plugin {
    AEffect effect{};
    HostCallback host = nullptr;
    std::vector<Note> notes;  // this block's note-ons, from effProcessEvents
    bool changeLayout = false;
    bool slow = false;
    // What the arpeggiator sends, kept alive until the host has read them.
    VstMidiEvent midi[96]{};
    VstMidiSysexEvent sysex[32]{};
    unsigned char sysexBytes[32][5]{};
    VstEventList<128> list{};
};

Plugin* self(AEffect* effect) {
    return static_cast<Plugin*>(effect->object);
}

intptr_t ask(Plugin* plugin, int32_t opcode, intptr_t value = 0, void* ptr = nullptr) {
    return plugin->host(&plugin->effect, opcode, 0, value, ptr, 0.0f);
}

void namePin(int32_t index, VstPinProperties* pin) {
    static const char* const labels[] = {"Main L", "Main R", "Sidechain L", "Sidechain R"};
    std::memset(pin, 0, sizeof *pin);
    std::snprintf(pin->label, sizeof pin->label, "%s", labels[index]);
    pin->flags = kVstPinIsActive | (index % 2 == 0 ? kVstPinIsStereo : 0);
}

intptr_t dispatcher(AEffect* effect, int32_t opcode, int32_t index, intptr_t, void* ptr, float) {
    Plugin* plugin = self(effect);
    switch (opcode) {
        case effClose:
            delete plugin;
            return 0;
        case effGetInputProperties:
        case effGetOutputProperties:
            if (variant != Variant::sidechain || index < 0 || index > 3 || !ptr) return 0;
            namePin(index, static_cast<VstPinProperties*>(ptr));
            return 1;
        case effProcessEvents: {
            const auto* events = static_cast<const VstEvents*>(ptr);
            for (int32_t i = 0; i < events->numEvents; ++i) {
                const auto* midi = reinterpret_cast<const VstMidiEvent*>(events->events[i]);
                if (midi->type != kVstMidiType || (midi->midiData[0] & 0xF0) != 0x90 ||
                    midi->midiData[2] == 0)
                    continue;
                const auto key = static_cast<unsigned char>(midi->midiData[1]);
                plugin->notes.push_back({midi->deltaFrames, key});
                plugin->changeLayout |= variant == Variant::iochange && key == 100;
                plugin->slow |= variant == Variant::transport && key == 101;
            }
            return 1;
        }
        case effCanDo:
            return ptr && (std::strcmp(static_cast<const char*>(ptr), "sendVstMidiEvent") == 0 ||
                           std::strcmp(static_cast<const char*>(ptr), "receiveVstMidiEvent") == 0)
                       ? 1
                       : 0;
        default:
            return 0;
    }
}

void sendArpeggio(Plugin* plugin, int32_t frames) {
    auto& list = plugin->list;
    list.numEvents = 0;
    std::size_t midiUsed = 0, sysexUsed = 0;
    for (const Note& note : plugin->notes) {
        for (int step = 0; step < 3 && midiUsed < 96; ++step) {
            VstMidiEvent& event = plugin->midi[midiUsed++];
            event = VstMidiEvent{};
            event.type = kVstMidiType;
            event.byteSize = sizeof event;
            event.deltaFrames = std::min(note.frame + 16 * step, frames - 1);
            event.midiData[0] = static_cast<char>(0x90);
            event.midiData[1] = static_cast<char>(note.key + (step == 0 ? 0 : step == 1 ? 4 : 7));
            event.midiData[2] = 100;
            list.events[list.numEvents++] = reinterpret_cast<VstEvent*>(&event);
        }
        if (sysexUsed < 32) {
            unsigned char* bytes = plugin->sysexBytes[sysexUsed];
            const unsigned char message[5] = {0xF0, 0x7D, 0x01, note.key, 0xF7};
            std::memcpy(bytes, message, sizeof message);
            VstMidiSysexEvent& event = plugin->sysex[sysexUsed++];
            event = VstMidiSysexEvent{};
            event.type = kVstSysExType;
            event.byteSize = sizeof event;
            event.deltaFrames = note.frame;
            event.dumpBytes = sizeof message;
            event.sysexDump = reinterpret_cast<char*>(bytes);
            list.events[list.numEvents++] = reinterpret_cast<VstEvent*>(&event);
        }
    }
    if (list.numEvents > 0) ask(plugin, audioMasterProcessEvents, 0, &list);
}

void reportTime(Plugin* plugin, float** outputs, int32_t frames) {
    const auto* time = reinterpret_cast<const VstTimeInfo*>(
        ask(plugin, audioMasterGetTime, kVstPpqPosValid | kVstTempoValid));
    const intptr_t level = ask(plugin, audioMasterGetCurrentProcessLevel);
    const float heard[4] = {
        time && (time->flags & kVstTempoValid) ? static_cast<float>(time->tempo / 1000.0) : -1.0f,
        time && (time->flags & kVstPpqPosValid) ? static_cast<float>(time->ppqPos / 100.0) : -1.0f,
        time ? static_cast<float>(time->samplePos / 1e6) : -1.0f,
        static_cast<float>(level) / 10.0f};
    for (int c = 0; c < 4; ++c) std::fill_n(outputs[c], frames, heard[c]);
}

void processReplacing(AEffect* effect, float** inputs, float** outputs, int32_t frames) {
    Plugin* plugin = self(effect);
    switch (variant) {
        case Variant::transport:
            reportTime(plugin, outputs, frames);
            if (plugin->slow) std::this_thread::sleep_for(std::chrono::milliseconds(2500));
            plugin->slow = false;
            break;
        case Variant::sidechain:
            for (int32_t i = 0; i < frames; ++i) {
                outputs[0][i] = inputs[0][i] + inputs[2][i];
                outputs[1][i] = inputs[1][i] + inputs[3][i];
                outputs[2][i] = inputs[2][i];
                outputs[3][i] = inputs[3][i];
            }
            break;
        case Variant::multiout:
            for (int c = 0; c < 16; ++c) std::fill_n(outputs[c], frames, (c + 1) / 100.0f);
            break;
        case Variant::arpeggiator:
        case Variant::iochange:
            for (int c = 0; c < effect->numOutputs; ++c)
                for (int32_t i = 0; i < frames; ++i) outputs[c][i] = c < 2 ? inputs[c][i] : 0.0f;
            break;
    }
    if (variant == Variant::arpeggiator) sendArpeggio(plugin, frames);
    plugin->notes.clear();
    if (plugin->changeLayout) {
        plugin->changeLayout = false;
        effect->numOutputs = 4;
        effect->initialDelay = 32;
        ask(plugin, audioMasterIOChanged);
    }
}

void processAccumulating(AEffect*, float**, float**, int32_t) {}
void setParameter(AEffect*, int32_t, float) {}
float getParameter(AEffect*, int32_t) {
    return 0.0f;
}

AEffect* create(HostCallback host) {
    if (!host) return nullptr;
    auto* plugin = new Plugin;
    plugin->host = host;
    plugin->notes.reserve(64);
    AEffect& effect = plugin->effect;
    effect.magic = kEffectMagic;
    effect.dispatcher = dispatcher;
    effect.process = processAccumulating;
    effect.setParameter = setParameter;
    effect.getParameter = getParameter;
    effect.numInputs = variant == Variant::sidechain ? 4 : 2;
    effect.numOutputs = variant == Variant::multiout    ? 16
                        : variant == Variant::transport ? 4
                        : variant == Variant::sidechain ? 4
                                                        : 2;
    effect.flags = effFlagsCanReplacing | (variant == Variant::multiout ? effFlagsIsSynth : 0);
    effect.object = plugin;
    effect.uniqueID = 0x48467430 + static_cast<int32_t>(variant);  // 'HFt0' and on
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
