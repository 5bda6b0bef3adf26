#include "dsp/HostCallback.h"

#include <cstring>

#include "dsp/HostSettings.h"
#include "dsp/VST2Plugin.h"
#include "shell/EditorWindows.h"

namespace Vexa::DSP {

namespace {

bool isExactly(const char* text, const char* word) {
    return text && std::strcmp(text, word) == 0;
}

intptr_t sizeWindow(VST2::AEffect* effect, int32_t width, intptr_t height) {
    if (!effect || !effect->resvd1) return 0;
    auto* wrapper = reinterpret_cast<VST2Plugin*>(effect->resvd1);
    WindowHandle frame = wrapper->editorWindow;
    if (frame) requestEditorResize(width, static_cast<int32_t>(height), frame);
    return 0;
}

}  // namespace

intptr_t hostCallback(VST2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                      void* ptr, float) {
    using namespace VST2;
    switch (opcode) {
        case audioMasterVersion: return 2400;
        case audioMasterIdle: return 1;
        case audioMasterSizeWindow: return sizeWindow(effect, index, value);
        case audioMasterGetSampleRate: return hostSampleRate.load();
        case audioMasterGetBlockSize: return hostBlockSize.load();
        case audioMasterGetCurrentProcessLevel: return kVstProcessLevelUser;
        case audioMasterCanDo: {
            const char* text = static_cast<const char*>(ptr);
            return isExactly(text, "sizeWindow") || isExactly(text, "sendVstMidiEvent") ? 1 : 0;
        }
        default: return 0;  // time, IO change and everything else: declined
    }
}

}  // namespace Vexa::DSP
