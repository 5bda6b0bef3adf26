#include <dlfcn.h>

#include "dsp/ModuleLoader.h"

namespace Vexa::DSP {

ModuleHandle openModule(const std::string& path) {
    // Local binding keeps two plug-ins' symbols (every one exports "main")
    // from resolving into each other.
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* findModuleSymbol(ModuleHandle module, const char* name) {
    return dlsym(module, name);
}

void closeModule(ModuleHandle module) {
    dlclose(module);
}

}  // namespace Vexa::DSP
