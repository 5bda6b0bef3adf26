// The one function through which plug-ins ask the host something.
#pragma once

#include <cstdint>

#include "dsp/VST2Interface.h"

namespace Vexa::DSP {

intptr_t hostCallback(VST2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                      void* ptr, float opt);

}  // namespace Vexa::DSP
