// On Windows a 32-bit x86 DLL runs in the 32-bit plug-in process, as old
// plug-ins whose makers are gone need; everything else goes to the
// program's own, which refuses what it cannot load with the reason.
#include "host/PluginHostChoice.h"

using Vexa::DSP::ModuleArchitecture;
using Vexa::DSP::ModuleFormat;
using Vexa::DSP::ModuleJudgement;
using Vexa::DSP::ModuleMachine;

PluginHostChoice choosePluginHost(const std::string& modulePath) {
    const ModuleArchitecture narrow{ModuleFormat::pe, ModuleMachine::x86_32};
    ModuleJudgement judgement = Vexa::DSP::judgeModule(modulePath);
    // Judged again as the 32-bit process will: its refusal, if any, is the
    // one the user reads.
    if (judgement.verdict == Vexa::DSP::ModuleVerdict::otherMachine &&
        judgement.architecture == narrow && Vexa::DSP::ownArchitecture() != narrow)
        return {"corvel-plugin-host32.exe", Vexa::DSP::judgeModule(modulePath, narrow)};
    return {"corvel-plugin-host.exe", std::move(judgement)};
}
