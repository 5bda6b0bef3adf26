#include "dsp/ModuleArchitecture.h"

#include <cstdint>
#include <cstring>
#include <fstream>

namespace Vexa::DSP {

namespace {

uint16_t little16(const unsigned char* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

uint32_t little32(const unsigned char* bytes) {
    return little16(bytes) | static_cast<uint32_t>(little16(bytes + 2)) << 16;
}

// ELF: e_ident's class (1: 32-bit, 2: 64-bit) and e_machine, little-endian
// as on every machine this program runs on.
ModuleMachine elfMachine(const unsigned char* header) {
    const int wordSize = header[4];
    switch (little16(header + 18)) {
        case 3: return ModuleMachine::x86_32;    // EM_386
        case 62: return ModuleMachine::x86_64;   // EM_X86_64
        case 40: return ModuleMachine::arm32;    // EM_ARM
        case 183: return ModuleMachine::arm64;   // EM_AARCH64
        default: return wordSize == 1 || wordSize == 2 ? ModuleMachine::other : ModuleMachine::unknown;
    }
}

// PE: the COFF header's Machine field.
ModuleMachine peMachine(uint16_t machine) {
    switch (machine) {
        case 0x014C: return ModuleMachine::x86_32;  // IMAGE_FILE_MACHINE_I386
        case 0x8664: return ModuleMachine::x86_64;  // IMAGE_FILE_MACHINE_AMD64
        case 0x01C4: return ModuleMachine::arm32;   // IMAGE_FILE_MACHINE_ARMNT
        case 0xAA64: return ModuleMachine::arm64;   // IMAGE_FILE_MACHINE_ARM64
        default: return ModuleMachine::other;
    }
}

std::string formatName(ModuleFormat format) {
    return format == ModuleFormat::pe ? "a Windows module" : "a Linux module";
}

std::string ownPlatformName() {
    return ownArchitecture().format == ModuleFormat::pe ? "Windows" : "Linux";
}

}  // namespace

ModuleArchitecture readModuleArchitecture(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    unsigned char header[64] = {};
    if (!file.read(reinterpret_cast<char*>(header), sizeof header)) return {};
    if (std::memcmp(header, "\x7f" "ELF", 4) == 0) return {ModuleFormat::elf, elfMachine(header)};
    if (header[0] != 'M' || header[1] != 'Z') return {};
    // The DOS header's last field says where the PE signature is.
    unsigned char signature[6] = {};
    if (!file.seekg(little32(header + 60)) || !file.read(reinterpret_cast<char*>(signature), sizeof signature) ||
        std::memcmp(signature, "PE\0\0", 4) != 0)
        return {};
    return {ModuleFormat::pe, peMachine(little16(signature + 4))};
}

ModuleArchitecture ownArchitecture() {
#ifdef _WIN32
    constexpr ModuleFormat format = ModuleFormat::pe;
#else
    constexpr ModuleFormat format = ModuleFormat::elf;
#endif
#if defined(__x86_64__) || defined(_M_X64)
    return {format, ModuleMachine::x86_64};
#elif defined(__i386__) || defined(_M_IX86)
    return {format, ModuleMachine::x86_32};
#elif defined(__aarch64__)
    return {format, ModuleMachine::arm64};
#elif defined(__arm__)
    return {format, ModuleMachine::arm32};
#else
    return {format, ModuleMachine::other};
#endif
}

std::string machineName(ModuleMachine machine) {
    switch (machine) {
        case ModuleMachine::x86_32: return "32-bit x86";
        case ModuleMachine::x86_64: return "64-bit x86";
        case ModuleMachine::arm32: return "32-bit ARM";
        case ModuleMachine::arm64: return "64-bit ARM";
        default: return "another processor";
    }
}

std::string architectureRefusal(const std::string& path) {
    const ModuleArchitecture module = readModuleArchitecture(path);
    const ModuleArchitecture own = ownArchitecture();
    if (module.format == ModuleFormat::unknown || module.machine == ModuleMachine::unknown) return {};
    if (module.format != own.format)
        return formatName(module.format) + "; this program loads " + ownPlatformName() + " plug-ins";
    if (module.machine == own.machine) return {};
    // Same processor family, other word size: the word size is the news.
    const bool x86 = module.machine == ModuleMachine::x86_32 || module.machine == ModuleMachine::x86_64;
    const bool ownX86 = own.machine == ModuleMachine::x86_32 || own.machine == ModuleMachine::x86_64;
    const std::string ownName = machineName(own.machine);
    return "built for " + machineName(module.machine) + "; this program loads " +
           (x86 && ownX86 ? ownName.substr(0, ownName.find(' ')) : ownName) + " plug-ins";
}

}  // namespace Vexa::DSP
