// The names a plug-in gives its inputs and outputs, where it gives any.
#pragma once

#include <string>
#include <vector>

#include "dsp/VST2Interface.h"

namespace Vexa::DSP {

struct PinDescription {
    std::string label;
    bool stereo = false;  // the first of a stereo pair
};

// Each input's (or output's) name, from effGetInputProperties (or
// effGetOutputProperties) of an opened plug-in; empty when it names none.
std::vector<PinDescription> readPinNames(VST2::AEffect* effect, bool inputs);

}  // namespace Vexa::DSP
