// Loading a plug-in module and finding its exports, per platform.
#pragma once

#include <string>

namespace Vexa::DSP {

using ModuleHandle = void*;

ModuleHandle openModule(const std::string& path);
void* findModuleSymbol(ModuleHandle module, const char* name);
void closeModule(ModuleHandle module);

}  // namespace Vexa::DSP
