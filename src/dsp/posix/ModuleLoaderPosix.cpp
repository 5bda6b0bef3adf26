#include <dlfcn.h>

#include "dsp/ModuleLoader.h"

namespace Vexa::DSP {

ModuleHandle openModule(const std::string& path, std::string& failure) {
    // Local binding keeps two plug-ins' symbols (every one exports "main")
    // from resolving into each other.
    ModuleHandle module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* words = dlerror();
        failure = words ? words : "the system could not load it";
        return nullptr;
    }
    // GObject is never unloaded and keeps every type registered with it, so
    // a toolkit built on it (GTK) that is unloaded and loaded again finds
    // its types taken and crashes. A module that brings GObject with it
    // (the lookup covers its dependencies) therefore stays loaded, and with
    // it its toolkit; loading it again reuses it.
    if (dlsym(module, "g_type_register_static")) {
        if (ModuleHandle pin = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE))
            dlclose(pin);
    }
    return module;
}

void* findModuleSymbol(ModuleHandle module, const char* name) {
    return dlsym(module, name);
}

void closeModule(ModuleHandle module) {
    dlclose(module);
}

}  // namespace Vexa::DSP
