// libFuzzer target: the module judge, over any bytes a file may hold.
// Each input is judged as a module by programs of every kind the judge
// knows, so the ELF and PE readers run to their tables whatever the input's
// header names. A read past the input's end would be caught by the address
// sanitizer; the verdicts must keep their contract.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dsp/ModuleJudgement.h"

using namespace Vexa::DSP;

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

class InputBytes final : public ModuleBytes {
public:
    InputBytes(const uint8_t* data, std::size_t size) : data(data), length(size) {}
    uint64_t size() const override { return length; }
    bool read(uint64_t offset, void* out, std::size_t count) override {
        if (offset > length || count > length - offset) return false;
        std::memcpy(out, data + offset, count);
        return true;
    }

private:
    const uint8_t* data;
    std::size_t length;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    for (ModuleFormat format : {ModuleFormat::elf, ModuleFormat::pe}) {
        for (ModuleMachine machine :
             {ModuleMachine::x86_64, ModuleMachine::x86_32, ModuleMachine::arm64}) {
            InputBytes bytes(data, size);
            const ModuleJudgement judged = judgeModuleBytes(bytes, {format, machine});
            require(judged.ok() == judged.reason.empty());
            // Only a file of the program's own kind can be a plug-in for it.
            if (judged.ok()) require(judged.architecture == ModuleArchitecture{format, machine});
            require(judged.verdict != ModuleVerdict::missing &&
                    judged.verdict != ModuleVerdict::unreadable);
        }
    }
    return 0;
}
