// On Linux there is one plug-in process, of the program's own word size: a
// module of any other kind is refused with the reason.
#include "dsp/ModuleArchitecture.h"
#include "host/PluginHostChoice.h"

PluginHostChoice choosePluginHost(const std::string& modulePath) {
    return {"corvel-plugin-host", Vexa::DSP::architectureRefusal(modulePath)};
}
