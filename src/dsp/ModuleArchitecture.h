// What a plug-in module file is built for, read from its header (ELF or PE)
// without loading it: a module of another word size or processor cannot be
// loaded into a process, and the system's own refusal does not say why.
#pragma once

#include <string>

namespace Vexa::DSP {

enum class ModuleFormat { unknown, elf, pe };
enum class ModuleMachine { unknown, x86_32, x86_64, arm32, arm64, other };

struct ModuleArchitecture {
    ModuleFormat format = ModuleFormat::unknown;
    ModuleMachine machine = ModuleMachine::unknown;
};

// Unknown for a file that cannot be read or is neither ELF nor PE.
ModuleArchitecture readModuleArchitecture(const std::string& path);

// What this process is, as the compiler built it.
ModuleArchitecture ownArchitecture();

// "32-bit x86", "64-bit ARM", ...
std::string machineName(ModuleMachine machine);

// Why this process cannot load the module at path, for the user; empty when
// it is of this process's kind, or of a kind not known (the load itself
// then tells).
std::string architectureRefusal(const std::string& path);

}  // namespace Vexa::DSP
