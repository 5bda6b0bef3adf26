// Loading a plug-in module and finding its exports, per platform.
#pragma once

#include <string>

namespace Vexa::DSP {

using ModuleHandle = void*;

// Null when the system refuses it; failure then holds the system's words.
ModuleHandle openModule(const std::string& path, std::string& failure);
void* findModuleSymbol(ModuleHandle module, const char* name);
void closeModule(ModuleHandle module);

}  // namespace Vexa::DSP
