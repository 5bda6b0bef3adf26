// On Linux there is one plug-in process, of the program's own word size; it
// refuses a module of any other kind with the reason.
#include "host/PluginHostChoice.h"

PluginHostChoice choosePluginHost(const std::string& modulePath) {
    return {"corvel-plugin-host", Vexa::DSP::judgeModule(modulePath)};
}
