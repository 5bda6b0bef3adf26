#include "dsp/VST2PluginBase.h"

#include "dsp/HostCallback.h"
#include "dsp/ModuleJudgement.h"

namespace Vexa::DSP {

VST2PluginBase::~VST2PluginBase() {
    if (module) closeModule(module);
}

namespace {

LoadProblem problemOf(ModuleVerdict verdict) {
    switch (verdict) {
        case ModuleVerdict::missing:
        case ModuleVerdict::unreadable:
            return LoadProblem::missing;
        case ModuleVerdict::otherMachine:
            return LoadProblem::otherMachine;
        case ModuleVerdict::notAModule:
        case ModuleVerdict::noEntryPoint:
            return LoadProblem::notAPlugin;
        case ModuleVerdict::ok:
            break;
    }
    return LoadProblem::none;
}

}  // namespace

VST2PluginBase::Entry VST2PluginBase::loadModule(const std::string& path, int32_t shellId) {
    const ModuleJudgement judgement = judgeModule(path);
    if (!judgement.ok()) return {nullptr, problemOf(judgement.verdict), judgement.reason};
    std::string failure;
    module = openModule(path, failure);
    if (!module)
        return {nullptr, LoadProblem::wouldNotOpen, "the system could not load it: " + failure};
    void* entry = findModuleSymbol(module, "VSTPluginMain");
    if (!entry) entry = findModuleSymbol(module, "main");
    // The file was swapped between its judgement and the load.
    if (!entry)
        return {nullptr, LoadProblem::notAPlugin,
                "not a VST 2 plug-in: it exports neither VSTPluginMain nor main"};
    ShellSelection selection(shellId);
    if (auto* effect = reinterpret_cast<VST2::EntryPoint>(entry)(hostCallback))
        return {effect, {}, {}};
    return {nullptr, LoadProblem::wouldNotOpen,
            "the plug-in refused to open: its entry point returned no plug-in"};
}

}  // namespace Vexa::DSP
