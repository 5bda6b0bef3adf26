// On Windows a 32-bit x86 DLL runs in the 32-bit plug-in process, as old
// plug-ins whose makers are gone need; everything else goes to the
// program's own, which refuses what it cannot load with the reason.
#include "dsp/ModuleArchitecture.h"
#include "host/PluginHostChoice.h"

using Vexa::DSP::ModuleFormat;
using Vexa::DSP::ModuleMachine;

std::string pluginHostFor(const std::string& modulePath) {
    const Vexa::DSP::ModuleArchitecture module = Vexa::DSP::readModuleArchitecture(modulePath);
    const bool x86_32 = module.format == ModuleFormat::pe && module.machine == ModuleMachine::x86_32;
    return x86_32 && Vexa::DSP::ownArchitecture().machine != ModuleMachine::x86_32 ? "corvel-plugin-host32.exe"
                                                                                    : "corvel-plugin-host.exe";
}
