#include "dsp/VST2PluginBase.h"

#include "dsp/HostCallback.h"

namespace Vexa::DSP {

VST2PluginBase::~VST2PluginBase() {
    if (module) closeModule(module);
}

VST2::AEffect* VST2PluginBase::loadModule(const std::string& path) {
    module = openModule(path);
    if (!module) return nullptr;
    void* entry = findModuleSymbol(module, "VSTPluginMain");
    if (!entry) entry = findModuleSymbol(module, "main");
    if (!entry) return nullptr;
    return reinterpret_cast<VST2::EntryPoint>(entry)(hostCallback);
}

}  // namespace Vexa::DSP
