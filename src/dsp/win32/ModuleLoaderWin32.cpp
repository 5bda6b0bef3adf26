#include <windows.h>

#include "dsp/ModuleLoader.h"

namespace Vexa::DSP {

ModuleHandle openModule(const std::string& path) {
    // The module's own folder is searched for the libraries it depends on.
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void* findModuleSymbol(ModuleHandle module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void closeModule(ModuleHandle module) {
    FreeLibrary(static_cast<HMODULE>(module));
}

}  // namespace Vexa::DSP
