#include "dsp/VST2PluginBase.h"

#include "dsp/HostCallback.h"
#include "dsp/ModuleInspection.h"

namespace Vexa::DSP {

VST2PluginBase::~VST2PluginBase() {
    if (module) closeModule(module);
}

VST2PluginBase::Entry VST2PluginBase::loadModule(const std::string& path) {
    Entry result;
    const ModuleInspection inspection = inspectModule(path);
    if (!inspection.ok()) {
        result.failure = inspection.reason;
        return result;
    }
    std::string failure;
    module = openModule(path, failure);
    if (!module) {
        result.failure = "the system could not load it: " + failure;
        return result;
    }
    void* entry = findModuleSymbol(module, "VSTPluginMain");
    if (!entry) entry = findModuleSymbol(module, "main");
    // The file was swapped between its judgement and the load.
    if (!entry) {
        result.failure = "not a VST 2 plug-in: it exports neither VSTPluginMain nor main";
        return result;
    }
    result.effect = reinterpret_cast<VST2::EntryPoint>(entry)(hostCallback);
    if (!result.effect) result.failure = "the plug-in refused to open: its entry point returned no plug-in";
    return result;
}

}  // namespace Vexa::DSP
