// The one function through which plug-ins ask the host something.
#pragma once

#include <cstdint>

#include "dsp/VST2Interface.h"

namespace Vexa::DSP {

intptr_t hostCallback(VST2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                      void* ptr, float opt);

// Which plug-in of a shell module the entry point calls on this thread
// build: while one of these lives, a plug-in that asks audioMasterCurrentId
// without a record tied to a wrapper hears its id. The entry point is given
// only the callback, so the calling thread is the one thing that can tell
// it apart from another load.
class ShellSelection {
public:
    explicit ShellSelection(int32_t uniqueId);
    ~ShellSelection();
    ShellSelection(const ShellSelection&) = delete;
    ShellSelection& operator=(const ShellSelection&) = delete;

private:
    int32_t outer;  // the selection this one hides, back when it ends
};

}  // namespace Vexa::DSP
