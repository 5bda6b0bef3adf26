// A loaded plug-in's parameters and programs.
#include <algorithm>

#include "dsp/VST2Plugin.h"

namespace Vexa::DSP {

using namespace VST2;

namespace {

bool inRange(int32_t index, int32_t count) {
    return index >= 0 && index < count;
}

}  // namespace

std::string VST2Plugin::text(int32_t opcode, int32_t index) {
    // The published limits are 8 to 64 bytes; plug-ins write past them.
    char buffer[kNameBufferSize] = {};
    dispatch(opcode, index, 0, buffer);
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

ParameterDescription VST2Plugin::describeParameter(int32_t index) {
    ParameterDescription description;
    if (!inRange(index, parameterCount())) return description;
    description.name = text(effGetParamName, index);
    description.label = text(effGetParamLabel, index);
    description.display = text(effGetParamDisplay, index);
    description.value = effect->getParameter(effect, index);
    description.automatable = dispatch(effCanBeAutomated, index) != 0;
    VstParameterProperties properties{};
    if (dispatch(effGetParameterProperties, index, 0, &properties) != 0) {
        description.isSwitch = (properties.flags & kVstParameterIsSwitch) != 0;
        description.isInteger = !description.isSwitch &&
                                (properties.flags & kVstParameterUsesIntegerMinMax) != 0 &&
                                properties.maxInteger >= properties.minInteger;
        description.minimum = properties.minInteger;
        description.maximum = properties.maxInteger;
        if (properties.flags & kVstParameterSupportsDisplayCategory && properties.category > 0) {
            properties.categoryLabel[sizeof properties.categoryLabel - 1] = '\0';
            description.category = properties.categoryLabel;
        }
    }
    return description;
}

float VST2Plugin::parameterValue(int32_t index) {
    return inRange(index, parameterCount()) ? effect->getParameter(effect, index) : 0.0f;
}

std::string VST2Plugin::parameterDisplay(int32_t index) {
    return inRange(index, parameterCount()) ? text(effGetParamDisplay, index) : std::string();
}

std::string VST2Plugin::probeDisplay(int32_t index, float value) {
    if (!inRange(index, parameterCount())) return {};
    probing.store(std::this_thread::get_id());
    const float old = effect->getParameter(effect, index);
    effect->setParameter(effect, index, value);
    std::string shown = text(effGetParamDisplay, index);
    effect->setParameter(effect, index, old);
    probing.store(std::thread::id());
    return shown;
}

void VST2Plugin::setParameter(int32_t index, float value) {
    if (inRange(index, parameterCount()))
        effect->setParameter(effect, index, std::clamp(value, 0.0f, 1.0f));
}

std::vector<std::string> VST2Plugin::programNames() {
    std::vector<std::string> names;
    for (int32_t i = 0; i < programCount(); ++i) {
        std::string name = text(effGetProgramNameIndexed, i);
        names.push_back(name);
    }
    return names;
}

int32_t VST2Plugin::currentProgram() {
    return opened ? static_cast<int32_t>(dispatch(effGetProgram)) : 0;
}

void VST2Plugin::setProgram(int32_t index) {
    if (!inRange(index, programCount())) return;
    dispatch(effBeginSetProgram);
    dispatch(effSetProgram, 0, index);
    dispatch(effEndSetProgram);
}

void VST2Plugin::setProgramName(const std::string& name) {
    if (!opened || programCount() == 0) return;
    // At most 24 bytes with the terminator, as plug-ins' own buffers are.
    char buffer[24] = {};
    name.copy(buffer, sizeof buffer - 1);
    dispatch(effSetProgramName, 0, 0, buffer);
}

}  // namespace Vexa::DSP
