// What a module file is, read from its bytes before anything loads it: its
// format and processor, and whether it exports a VST 2 entry point. Loading
// a module runs its constructors (DllMain on Windows), so a file that is no
// plug-in must be turned away before that, not after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Vexa::DSP {

enum class ModuleFormat { unknown, elf, pe };
enum class ModuleMachine { unknown, x86_32, x86_64, arm32, arm64, other };

struct ModuleArchitecture {
    ModuleFormat format = ModuleFormat::unknown;
    ModuleMachine machine = ModuleMachine::unknown;

    bool operator==(const ModuleArchitecture& other) const {
        return format == other.format && machine == other.machine;
    }
    bool operator!=(const ModuleArchitecture& other) const { return !(*this == other); }
};

// What this process is, as the compiler built it.
ModuleArchitecture ownArchitecture();

enum class ModuleVerdict {
    ok,
    missing,       // no file at the path
    unreadable,    // there, but it cannot be opened or read
    notAModule,    // not a shared library (DLL) at all, or damaged
    otherMachine,  // a module for another processor, word size or system
    noEntryPoint,  // a module that exports neither VSTPluginMain nor main
};

struct ModuleJudgement {
    ModuleVerdict verdict = ModuleVerdict::notAModule;
    // What the header says; unknown when the file has no header this reader knows.
    ModuleArchitecture architecture;
    // One sentence for the user; empty when ok.
    std::string reason;

    bool ok() const { return verdict == ModuleVerdict::ok; }
};

// A module file's bytes, read at offsets.
class ModuleBytes {
public:
    virtual ~ModuleBytes() = default;
    virtual uint64_t size() const = 0;
    // Copies count bytes from offset; false when any of them lies past the
    // end or cannot be read.
    virtual bool read(uint64_t offset, void* out, std::size_t count) = 0;
};

// Judges the module at path for a process of the architecture own. Reads
// only regular files, without blocking (a pipe or a device is refused).
// Never runs the module's code.
ModuleJudgement judgeModule(const std::string& path,
                            const ModuleArchitecture& own = ownArchitecture());

// The same from the bytes alone (what a file holds). Every offset and count
// the bytes claim is checked before use, so hostile bytes cost a refusal,
// never a read out of bounds; the work is bounded by their size.
ModuleJudgement judgeModuleBytes(ModuleBytes& bytes,
                                 const ModuleArchitecture& own = ownArchitecture());

}  // namespace Vexa::DSP
