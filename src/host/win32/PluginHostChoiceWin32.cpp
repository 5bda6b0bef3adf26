// On Windows a 32-bit x86 DLL runs in the 32-bit plug-in process, as old
// plug-ins whose makers are gone need; any other kind the program's own
// plug-in process cannot load is refused with the reason.
#include "dsp/ModuleArchitecture.h"
#include "host/PluginHostChoice.h"

using Vexa::DSP::ModuleFormat;
using Vexa::DSP::ModuleMachine;

PluginHostChoice choosePluginHost(const std::string& modulePath) {
    const Vexa::DSP::ModuleArchitecture module = Vexa::DSP::readModuleArchitecture(modulePath);
    if (module.format == ModuleFormat::pe && module.machine == ModuleMachine::x86_32)
        return {"corvel-plugin-host32.exe", {}};
    std::string refusal = Vexa::DSP::architectureRefusal(modulePath);
    // The 32-bit plug-in process makes this a program of both x86 word sizes.
    const std::string onlyOurs = "this program loads 64-bit x86 plug-ins";
    if (const std::size_t at = refusal.find(onlyOurs); at != std::string::npos)
        refusal.replace(at, onlyOurs.size(), "this program loads x86 plug-ins");
    return {"corvel-plugin-host.exe", refusal};
}
