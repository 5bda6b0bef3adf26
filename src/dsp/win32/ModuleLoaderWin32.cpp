#include <windows.h>

#include "dsp/ModuleLoader.h"
#include "dsp/win32/SystemErrorText.h"

namespace Vexa::DSP {

ModuleHandle openModule(const std::string& path, std::string& failure) {
    // The module's own folder is searched for the libraries it depends on.
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) failure = systemErrorText(GetLastError());
    return module;
}

void* findModuleSymbol(ModuleHandle module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void closeModule(ModuleHandle module) {
    FreeLibrary(static_cast<HMODULE>(module));
}

}  // namespace Vexa::DSP
