#include "dsp/HostCallback.h"

#include <cstring>

#include "dsp/VST2Plugin.h"

namespace Vexa::DSP {

namespace {

// The defaults a plug-in hears while its record is not yet tied to a wrapper
// (it may ask from inside its entry point).
constexpr uint32_t defaultSampleRate = 44100;
constexpr uint32_t defaultBlockSize = 1024;

// 0: no selection, which a shell module takes as "build the shell itself".
thread_local int32_t selectedShellId = 0;

bool isExactly(const char* text, const char* word) {
    return text && std::strcmp(text, word) == 0;
}

VST2Plugin* wrapperOf(VST2::AEffect* effect) {
    return effect ? reinterpret_cast<VST2Plugin*>(effect->resvd1) : nullptr;
}

intptr_t sizeWindow(VST2::AEffect* effect, int32_t width, intptr_t height) {
    VST2Plugin* wrapper = wrapperOf(effect);
    if (!wrapper) return 0;
    if (EditorSizeListener* listener = wrapper->editorSizeListener())
        listener->onEditorSizeRequest(width, static_cast<int32_t>(height));
    return 0;
}

intptr_t report(VST2Plugin* wrapper, ParameterEvent::Kind kind, int32_t index, float value) {
    if (!wrapper) return 0;
    wrapper->noteParameterEvent({kind, index, value});
    return 1;
}

}  // namespace

intptr_t hostCallback(VST2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                      void* ptr, float opt) {
    using namespace VST2;
    VST2Plugin* wrapper = wrapperOf(effect);
    using Kind = ParameterEvent::Kind;
    switch (opcode) {
        case audioMasterAutomate:
            report(wrapper, Kind::change, index, opt);
            return 0;
        case audioMasterBeginEdit:
            return report(wrapper, Kind::begin, index, 0.0f);
        case audioMasterEndEdit:
            return report(wrapper, Kind::end, index, 0.0f);
        case audioMasterUpdateDisplay:
            return report(wrapper, Kind::setChanged, 0, 0.0f);
        case audioMasterIOChanged:
            // Taken on by whoever owns the plug-in's life cycle, blocks kept out.
            return report(wrapper, Kind::ioChanged, 0, 0.0f);
        case audioMasterGetTime:
            return wrapper ? reinterpret_cast<intptr_t>(wrapper->timeInfo()) : 0;
        case audioMasterProcessEvents:
            if (wrapper) wrapper->noteOutgoingEvents(static_cast<const VstEvents*>(ptr));
            return 1;
        case audioMasterVersion:
            return 2400;
        case audioMasterCurrentId:
            return wrapper ? wrapper->shellId() : selectedShellId;
        case audioMasterIdle:
            return 1;
        case audioMasterSizeWindow:
            return sizeWindow(effect, index, value);
        case audioMasterGetSampleRate:
            return wrapper ? wrapper->sampleRate() : defaultSampleRate;
        case audioMasterGetBlockSize:
            return wrapper ? wrapper->blockSize() : defaultBlockSize;
        case audioMasterGetCurrentProcessLevel:
            return wrapper && wrapper->isOffline() ? kVstProcessLevelOffline
                                                   : kVstProcessLevelRealtime;
        case audioMasterCanDo: {
            const char* text = static_cast<const char*>(ptr);
            for (const char* word : {"sizeWindow", "sendVstEvents", "sendVstMidiEvent",
                                     "receiveVstEvents", "receiveVstMidiEvent", "sendVstTimeInfo"})
                if (isExactly(text, word)) return 1;
            return 0;
        }
        default:
            return 0;  // everything else: declined
    }
}

ShellSelection::ShellSelection(int32_t uniqueId) : outer(selectedShellId) {
    selectedShellId = uniqueId;
}

ShellSelection::~ShellSelection() {
    selectedShellId = outer;
}

}  // namespace Vexa::DSP
