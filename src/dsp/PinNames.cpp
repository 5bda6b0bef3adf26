#include "dsp/PinNames.h"

namespace Vexa::DSP {

using namespace VST2;

std::vector<PinDescription> readPinNames(AEffect* effect, bool inputs) {
    std::vector<PinDescription> named;
    const int32_t count = inputs ? effect->numInputs : effect->numOutputs;
    bool any = false;
    for (int32_t i = 0; i < count; ++i) {
        VstPinProperties pin{};
        const bool given =
            effect->dispatcher(effect, inputs ? effGetInputProperties : effGetOutputProperties, i,
                               0, &pin, 0.0f) != 0;
        pin.label[sizeof pin.label - 1] = '\0';
        any = any || given;
        named.push_back({given ? pin.label : "", given && (pin.flags & kVstPinIsStereo) != 0});
    }
    if (!any) named.clear();
    return named;
}

}  // namespace Vexa::DSP
