// On Linux there is one plug-in process, of the program's own word size; it
// refuses a module of any other kind with the reason.
#include "host/PluginHostChoice.h"

std::string pluginHostFor(const std::string&) {
    return "corvel-plugin-host";
}
