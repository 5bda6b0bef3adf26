#include "dsp/VST2PluginBase.h"

#include "dsp/HostCallback.h"

namespace Vexa::DSP {

VST2PluginBase::~VST2PluginBase() {
    if (module) closeModule(module);
}

VST2::AEffect* VST2PluginBase::loadModule(std::string path, int32_t shellId) {
    module = openModule(path);
    if (!module) return nullptr;
    void* symbol = findModuleSymbol(module, "VSTPluginMain");
    if (!symbol) symbol = findModuleSymbol(module, "main");
    if (!symbol) return nullptr;
    entry = reinterpret_cast<VST2::EntryPoint>(symbol);
    ShellSelection selection(shellId);
    return entry(hostCallback);
}

}  // namespace Vexa::DSP
