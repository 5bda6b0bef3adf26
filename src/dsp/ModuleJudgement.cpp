#include "dsp/ModuleJudgement.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "dsp/ModuleFile.h"

namespace Vexa::DSP {

namespace {

constexpr const char* entryPointNames[] = {"VSTPluginMain", "main"};

// The most symbols, export names, sections or segments read from one file.
// Real plug-ins export a few thousand names at most; the bound keeps a
// hostile file's claim of billions from costing minutes.
constexpr uint64_t maxEntries = uint64_t(1) << 22;

// One fixed-size record (a header, a table entry) read from the file, and
// its fields in the file's byte order. A field outside the record reads as
// 0, so a short record never reads past its bytes.
struct Record {
    uint8_t bytes[256] = {};
    std::size_t size = 0;
    bool bigEndian = false;

    uint64_t field(std::size_t at, std::size_t width) const {
        if (at > size || width > size - at) return 0;
        uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i)
            value |= uint64_t(bytes[at + (bigEndian ? width - 1 - i : i)]) << (8 * i);
        return value;
    }
};

bool readRecord(ModuleBytes& source, uint64_t offset, std::size_t size, bool bigEndian,
                Record& out) {
    out.size = std::min(size, sizeof out.bytes);
    out.bigEndian = bigEndian;
    return source.read(offset, out.bytes, out.size);
}

// Whether the NUL-ended string at offset, which must end before limit, is name.
bool nameAt(ModuleBytes& source, uint64_t offset, uint64_t limit, const char* name) {
    const std::size_t length = std::strlen(name) + 1;
    char found[32];
    if (offset > limit || length > limit - offset || !source.read(offset, found, length))
        return false;
    return std::memcmp(found, name, length) == 0;
}

bool isEntryPointAt(ModuleBytes& source, uint64_t offset, uint64_t limit) {
    return std::any_of(std::begin(entryPointNames), std::end(entryPointNames),
                       [&](const char* name) { return nameAt(source, offset, limit, name); });
}

// offset + count * size, when all of it lies within the file.
std::optional<uint64_t> tableEnd(const ModuleBytes& source, uint64_t offset, uint64_t count,
                                 uint64_t size) {
    const uint64_t total = source.size();
    if (offset > total || size == 0 || count > (total - offset) / size) return std::nullopt;
    return offset + count * size;
}

std::string machineName(ModuleMachine machine) {
    switch (machine) {
        case ModuleMachine::x86_32:
            return "32-bit x86";
        case ModuleMachine::x86_64:
            return "64-bit x86";
        case ModuleMachine::arm32:
            return "32-bit ARM";
        case ModuleMachine::arm64:
            return "64-bit ARM";
        default:
            return "another processor";
    }
}

int wordBits(ModuleMachine machine) {
    return machine == ModuleMachine::x86_32 || machine == ModuleMachine::arm32 ? 32 : 64;
}

bool sameFamily(ModuleMachine a, ModuleMachine b) {
    const auto x86 = [](ModuleMachine m) {
        return m == ModuleMachine::x86_32 || m == ModuleMachine::x86_64;
    };
    const auto arm = [](ModuleMachine m) {
        return m == ModuleMachine::arm32 || m == ModuleMachine::arm64;
    };
    return (x86(a) && x86(b)) || (arm(a) && arm(b));
}

std::string moduleKind(const ModuleArchitecture& own) {
    return own.format == ModuleFormat::pe ? "a DLL" : "a shared library";
}

ModuleJudgement refusal(ModuleVerdict verdict, ModuleArchitecture architecture,
                        std::string reason) {
    return {verdict, architecture, std::move(reason)};
}

// A module of another system, processor or word size. Where only the word
// size differs, that is the news: "built for 32-bit x86; this program loads
// 64-bit plug-ins".
ModuleJudgement otherMachine(const ModuleArchitecture& module, const ModuleArchitecture& own) {
    std::string what;
    if (module.format != own.format) {
        what = module.format == ModuleFormat::pe
                   ? "a Windows DLL; this program loads Linux plug-ins"
                   : "a Linux shared library; this program loads Windows plug-ins";
        return refusal(ModuleVerdict::otherMachine, module, what);
    }
    const bool wordSizeOnly = sameFamily(module.machine, own.machine);
    if (module.format == ModuleFormat::pe)
        what = wordSizeOnly ? "a " + std::to_string(wordBits(module.machine)) + "-bit DLL"
                            : "a DLL built for " + machineName(module.machine);
    else what = "built for " + machineName(module.machine);
    const std::string ours =
        wordSizeOnly ? std::to_string(wordBits(own.machine)) + "-bit" : machineName(own.machine);
    return refusal(ModuleVerdict::otherMachine, module,
                   what + "; this program loads " + ours + " plug-ins");
}

ModuleJudgement noEntryPoint(const ModuleArchitecture& module) {
    return refusal(ModuleVerdict::noEntryPoint, module,
                   "not a VST 2 plug-in: it exports neither VSTPluginMain nor main");
}

// ---- ELF ----------------------------------------------------------------------------

constexpr uint32_t shtDynsym = 11;
constexpr uint32_t shtNobits = 8;
constexpr uint32_t ptLoad = 1;
constexpr uint32_t ptDynamic = 2;
constexpr uint64_t dtNull = 0, dtHash = 4, dtStrtab = 5, dtSymtab = 6, dtStrsz = 10, dtSyment = 11;
constexpr uint64_t dtGnuHash = 0x6ffffef5;

// Where the fields of the two word sizes lie; the names are the ELF ones.
struct ElfLayout {
    bool wide = false;
    bool bigEndian = false;
    std::size_t word() const { return wide ? 8 : 4; }
    std::size_t headerSize() const { return wide ? 64 : 52; }
    std::size_t sectionSize() const { return wide ? 64 : 40; }
    std::size_t segmentSize() const { return wide ? 56 : 32; }
    std::size_t symbolSize() const { return wide ? 24 : 16; }
    std::size_t dynamicSize() const { return wide ? 16 : 8; }
};

// The dynamic symbols and their names, as file offsets.
struct SymbolTable {
    uint64_t offset = 0;
    uint64_t count = 0;
    uint64_t entrySize = 0;
    uint64_t namesOffset = 0;
    uint64_t namesSize = 0;
};

ModuleMachine elfMachine(uint64_t machine, bool wide) {
    switch (machine) {
        case 3:
            return ModuleMachine::x86_32;  // EM_386
        case 62:
            return wide ? ModuleMachine::x86_64
                        : ModuleMachine::other;  // EM_X86_64 (x32 when narrow)
        case 40:
            return ModuleMachine::arm32;  // EM_ARM
        case 183:
            return wide ? ModuleMachine::arm64 : ModuleMachine::other;  // EM_AARCH64
        default:
            return ModuleMachine::other;
    }
}

// From the section headers: the SHT_DYNSYM section and the string section it links to.
std::optional<SymbolTable> symbolsFromSections(ModuleBytes& source, const Record& header,
                                               const ElfLayout& elf) {
    const uint64_t offset = header.field(elf.wide ? 40 : 32, elf.word());
    const uint64_t entrySize = header.field(elf.wide ? 58 : 46, 2);
    const uint64_t count = header.field(elf.wide ? 60 : 48, 2);
    if (offset == 0 || entrySize < elf.sectionSize() || !tableEnd(source, offset, count, entrySize))
        return std::nullopt;
    const auto section = [&](uint64_t index, Record& out) {
        return index < count && readRecord(source, offset + index * entrySize, elf.sectionSize(),
                                           elf.bigEndian, out);
    };
    const std::size_t typeAt = 4, offsetAt = elf.wide ? 24 : 16, sizeAt = elf.wide ? 32 : 20,
                      linkAt = elf.wide ? 40 : 24, entSizeAt = elf.wide ? 56 : 36;
    Record symbols;
    Record names;
    for (uint64_t index = 0; index < count; ++index) {
        if (!section(index, symbols)) return std::nullopt;
        if (symbols.field(typeAt, 4) != shtDynsym) continue;
        if (!section(symbols.field(linkAt, 4), names) || names.field(typeAt, 4) == shtNobits)
            return std::nullopt;
        SymbolTable table;
        table.offset = symbols.field(offsetAt, elf.word());
        table.entrySize =
            std::max<uint64_t>(symbols.field(entSizeAt, elf.word()), elf.symbolSize());
        table.count = symbols.field(sizeAt, elf.word()) / table.entrySize;
        table.namesOffset = names.field(offsetAt, elf.word());
        table.namesSize = names.field(sizeAt, elf.word());
        return table;
    }
    return std::nullopt;
}

struct Segment {
    uint64_t offset, address, fileSize;
};

// The file offset of count bytes at a virtual address, through the loaded segments.
std::optional<uint64_t> fileOffsetOf(const std::vector<Segment>& loads, uint64_t address,
                                     uint64_t count) {
    for (const Segment& load : loads) {
        if (address < load.address || address - load.address >= load.fileSize) continue;
        if (count > load.fileSize - (address - load.address)) return std::nullopt;
        return load.offset + (address - load.address);
    }
    return std::nullopt;
}

// The number of dynamic symbols, from the hash table the loader would use:
// DT_HASH says it outright; DT_GNU_HASH only through its last chain.
std::optional<uint64_t> symbolCount(ModuleBytes& source, const ElfLayout& elf,
                                    const std::vector<Segment>& loads, std::optional<uint64_t> hash,
                                    std::optional<uint64_t> gnuHash) {
    Record words;
    if (hash) {
        const auto at = fileOffsetOf(loads, *hash, 8);
        if (!at || !readRecord(source, *at, 8, elf.bigEndian, words)) return std::nullopt;
        return words.field(4, 4);
    }
    if (!gnuHash) return std::nullopt;
    const auto at = fileOffsetOf(loads, *gnuHash, 16);
    if (!at || !readRecord(source, *at, 16, elf.bigEndian, words)) return std::nullopt;
    const uint64_t buckets = words.field(0, 4), first = words.field(4, 4),
                   bloomWords = words.field(8, 4);
    if (buckets > maxEntries || bloomWords > maxEntries) return std::nullopt;
    const uint64_t bucketsAt = *gnuHash + 16 + bloomWords * elf.word();
    const auto bucketTable = fileOffsetOf(loads, bucketsAt, buckets * 4);
    if (!bucketTable) return std::nullopt;
    uint64_t last = 0;
    for (uint64_t i = 0; i < buckets; ++i) {
        if (!readRecord(source, *bucketTable + i * 4, 4, elf.bigEndian, words)) return std::nullopt;
        last = std::max(last, words.field(0, 4));
    }
    if (last < first) return first;
    // The chain of the highest bucket ends at the last symbol: its word has bit 0 set.
    for (uint64_t steps = 0; steps < maxEntries; ++steps, ++last) {
        const auto chain = fileOffsetOf(loads, bucketsAt + buckets * 4 + (last - first) * 4, 4);
        if (!chain || !readRecord(source, *chain, 4, elf.bigEndian, words)) return std::nullopt;
        if (words.field(0, 4) & 1) return last + 1;
    }
    return std::nullopt;
}

// From the program headers, as the loader finds them: the dynamic segment's
// symbol and string tables. For modules whose section headers are gone.
std::optional<SymbolTable> symbolsFromSegments(ModuleBytes& source, const Record& header,
                                               const ElfLayout& elf) {
    const uint64_t offset = header.field(elf.wide ? 32 : 28, elf.word());
    const uint64_t entrySize = header.field(elf.wide ? 54 : 42, 2);
    const uint64_t count = header.field(elf.wide ? 56 : 44, 2);
    if (entrySize < elf.segmentSize() || !tableEnd(source, offset, count, entrySize))
        return std::nullopt;
    std::vector<Segment> loads;
    std::optional<Segment> dynamic;
    Record segment;
    for (uint64_t index = 0; index < count; ++index) {
        if (!readRecord(source, offset + index * entrySize, elf.segmentSize(), elf.bigEndian,
                        segment))
            return std::nullopt;
        const Segment found =
            elf.wide ? Segment{segment.field(8, 8), segment.field(16, 8), segment.field(32, 8)}
                     : Segment{segment.field(4, 4), segment.field(8, 4), segment.field(16, 4)};
        const uint64_t type = segment.field(0, 4);
        if (type == ptLoad) loads.push_back(found);
        if (type == ptDynamic) dynamic = found;
    }
    if (!dynamic) return std::nullopt;
    std::optional<uint64_t> symbols, names, namesSize, hash, gnuHash;
    uint64_t symbolSize = elf.symbolSize();
    const uint64_t entries = std::min(dynamic->fileSize / elf.dynamicSize(), maxEntries);
    Record entry;
    for (uint64_t index = 0; index < entries; ++index) {
        if (!readRecord(source, dynamic->offset + index * elf.dynamicSize(), elf.dynamicSize(),
                        elf.bigEndian, entry))
            return std::nullopt;
        const uint64_t tag = entry.field(0, elf.word()),
                       value = entry.field(elf.word(), elf.word());
        if (tag == dtNull) break;
        if (tag == dtSymtab) symbols = value;
        if (tag == dtStrtab) names = value;
        if (tag == dtStrsz) namesSize = value;
        if (tag == dtSyment) symbolSize = std::max<uint64_t>(value, elf.symbolSize());
        if (tag == dtHash) hash = value;
        if (tag == dtGnuHash) gnuHash = value;
    }
    if (!symbols || !names || !namesSize) return std::nullopt;
    const auto symbolCountFound = symbolCount(source, elf, loads, hash, gnuHash);
    if (!symbolCountFound) return std::nullopt;
    const auto symbolsAt = fileOffsetOf(loads, *symbols, 0);
    const auto namesAt = fileOffsetOf(loads, *names, 0);
    if (!symbolsAt || !namesAt) return std::nullopt;
    return SymbolTable{*symbolsAt, *symbolCountFound, symbolSize, *namesAt, *namesSize};
}

// Whether a defined, visible symbol of global or weak binding bears an
// entry point's name: what dlsym would find.
bool exportsEntryPoint(ModuleBytes& source, const SymbolTable& table, const ElfLayout& elf) {
    const uint64_t count = std::min(table.count, maxEntries);
    if (!tableEnd(source, table.offset, count, table.entrySize) ||
        table.namesOffset > source.size())
        return false;
    // Clamped to the file, so no name's offset runs past the end of numbers.
    const uint64_t namesSize = std::min(table.namesSize, source.size() - table.namesOffset);
    const uint64_t namesEnd = table.namesOffset + namesSize;
    Record symbol;
    for (uint64_t index = 0; index < count; ++index) {
        if (!readRecord(source, table.offset + index * table.entrySize, elf.symbolSize(),
                        elf.bigEndian, symbol))
            return false;
        const uint64_t name = symbol.field(0, 4);
        const uint64_t info = symbol.field(elf.wide ? 4 : 12, 1);
        const uint64_t other = symbol.field(elf.wide ? 5 : 13, 1);
        const uint64_t sectionIndex = symbol.field(elf.wide ? 6 : 14, 2);
        const uint64_t binding = info >> 4;
        const bool exported =
            binding == 1 || binding == 2 || binding == 10;          // GLOBAL, WEAK, GNU_UNIQUE
        const bool visible = (other & 3) == 0 || (other & 3) == 3;  // DEFAULT, PROTECTED
        if (sectionIndex == 0 || !exported || !visible || name >= namesSize) continue;
        if (isEntryPointAt(source, table.namesOffset + name, namesEnd)) return true;
    }
    return false;
}

ModuleJudgement judgeElf(ModuleBytes& source, const ModuleArchitecture& own) {
    Record ident;
    const std::string damaged = "not " + moduleKind(own) + ": its ELF header is damaged";
    if (!readRecord(source, 0, 16, false, ident) || (ident.bytes[4] != 1 && ident.bytes[4] != 2) ||
        (ident.bytes[5] != 1 && ident.bytes[5] != 2))
        return refusal(ModuleVerdict::notAModule, {ModuleFormat::elf, ModuleMachine::unknown},
                       damaged);
    ElfLayout elf;
    elf.wide = ident.bytes[4] == 2;
    elf.bigEndian = ident.bytes[5] == 2;
    Record header;
    if (!readRecord(source, 0, elf.headerSize(), elf.bigEndian, header))
        return refusal(ModuleVerdict::notAModule, {ModuleFormat::elf, ModuleMachine::unknown},
                       damaged);
    const ModuleArchitecture module{ModuleFormat::elf, elfMachine(header.field(18, 2), elf.wide)};
    if (module != own) return otherMachine(module, own);
    switch (header.field(16, 2)) {
        case 3:
            break;  // ET_DYN
        case 1:
            return refusal(ModuleVerdict::notAModule, module,
                           "an object file, not a shared library");
        case 2:
            return refusal(ModuleVerdict::notAModule, module, "a program, not a shared library");
        case 4:
            return refusal(ModuleVerdict::notAModule, module, "a core dump, not a shared library");
        default:
            return refusal(ModuleVerdict::notAModule, module, damaged);
    }
    std::optional<SymbolTable> table = symbolsFromSections(source, header, elf);
    if (!table) table = symbolsFromSegments(source, header, elf);
    if (!table || !exportsEntryPoint(source, *table, elf)) return noEntryPoint(module);
    return {ModuleVerdict::ok, module, {}};
}

// ---- PE -----------------------------------------------------------------------------

constexpr uint64_t imageFileDll = 0x2000;

ModuleMachine peMachine(uint64_t machine) {
    switch (machine) {
        case 0x014C:
            return ModuleMachine::x86_32;  // IMAGE_FILE_MACHINE_I386
        case 0x8664:
            return ModuleMachine::x86_64;  // IMAGE_FILE_MACHINE_AMD64
        case 0x01C4:
            return ModuleMachine::arm32;  // IMAGE_FILE_MACHINE_ARMNT
        case 0xAA64:
            return ModuleMachine::arm64;  // IMAGE_FILE_MACHINE_ARM64
        default:
            return ModuleMachine::other;
    }
}

struct PeSection {
    uint64_t address, rawSize, rawOffset;
};

// The file offset of count bytes at a relative virtual address, when the
// file holds them (not in the zero-filled tail of a section).
std::optional<uint64_t> fileOffsetOf(const std::vector<PeSection>& sections, uint64_t rva,
                                     uint64_t count) {
    for (const PeSection& section : sections) {
        if (rva < section.address || rva - section.address >= section.rawSize) continue;
        if (count > section.rawSize - (rva - section.address)) return std::nullopt;
        return section.rawOffset + (rva - section.address);
    }
    return std::nullopt;
}

// Whether the export directory names an entry point. A name's bytes must
// lie in the file, in the section that holds them.
bool exportsEntryPoint(ModuleBytes& source, const std::vector<PeSection>& sections,
                       uint64_t directory) {
    Record exports;
    const auto at = fileOffsetOf(sections, directory, 40);
    if (!at || !readRecord(source, *at, 40, false, exports)) return false;
    const uint64_t names = std::min(exports.field(24, 4), maxEntries);
    const auto nameTable = fileOffsetOf(sections, exports.field(32, 4), names * 4);
    if (!nameTable) return false;
    Record name;
    for (uint64_t index = 0; index < names; ++index) {
        if (!readRecord(source, *nameTable + index * 4, 4, false, name)) return false;
        const uint64_t rva = name.field(0, 4);
        for (const char* entry : entryPointNames) {
            const uint64_t length = std::strlen(entry) + 1;
            const auto text = fileOffsetOf(sections, rva, length);
            if (text && nameAt(source, *text, *text + length, entry)) return true;
        }
    }
    return false;
}

ModuleJudgement judgePe(ModuleBytes& source, const ModuleArchitecture& own) {
    const std::string damaged = "not " + moduleKind(own) + ": its Windows header is damaged";
    const ModuleArchitecture unknownPe{ModuleFormat::pe, ModuleMachine::unknown};
    Record dos;
    Record coff;
    if (!readRecord(source, 0, 64, false, dos))
        return refusal(ModuleVerdict::notAModule, unknownPe, damaged);
    // The DOS header's last field says where the PE header begins.
    const uint64_t peHeader = dos.field(60, 4);
    if (!readRecord(source, peHeader, 24, false, coff) || std::memcmp(coff.bytes, "PE\0\0", 4) != 0)
        return refusal(ModuleVerdict::notAModule, {}, "not " + moduleKind(own));
    const ModuleArchitecture module{ModuleFormat::pe, peMachine(coff.field(4, 2))};
    if (module != own) return otherMachine(module, own);
    if (!(coff.field(22, 2) & imageFileDll))
        return refusal(ModuleVerdict::notAModule, module, "a Windows program, not a DLL");
    const uint64_t sectionCount = coff.field(6, 2);
    const uint64_t optionalSize = coff.field(20, 2);
    Record optional;
    if (!readRecord(source, peHeader + 24, static_cast<std::size_t>(optionalSize), false, optional))
        return refusal(ModuleVerdict::notAModule, module, damaged);
    // PE32 and PE32+ differ in where the data directories begin; the export
    // directory is the first of them.
    const uint64_t magic = optional.field(0, 2);
    if (magic != 0x10B && magic != 0x20B)
        return refusal(ModuleVerdict::notAModule, module, damaged);
    const std::size_t directoriesAt = magic == 0x20B ? 112 : 96;
    const uint64_t directories = optional.field(directoriesAt - 4, 4);
    const uint64_t exportDirectory = directories > 0 ? optional.field(directoriesAt, 4) : 0;
    if (exportDirectory == 0) return noEntryPoint(module);
    const uint64_t sectionTable = peHeader + 24 + optionalSize;
    if (!tableEnd(source, sectionTable, sectionCount, 40))
        return refusal(ModuleVerdict::notAModule, module, damaged);
    std::vector<PeSection> sections;
    Record section;
    for (uint64_t index = 0; index < sectionCount; ++index) {
        if (!readRecord(source, sectionTable + index * 40, 40, false, section))
            return refusal(ModuleVerdict::notAModule, module, damaged);
        sections.push_back({section.field(12, 4), section.field(16, 4), section.field(20, 4)});
    }
    if (!exportsEntryPoint(source, sections, exportDirectory)) return noEntryPoint(module);
    return {ModuleVerdict::ok, module, {}};
}

}  // namespace

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

ModuleJudgement judgeModuleBytes(ModuleBytes& bytes, const ModuleArchitecture& own) {
    char magic[4] = {};
    const bool readable = bytes.read(0, magic, sizeof magic);
    if (readable && std::memcmp(magic,
                                "\x7f"
                                "ELF",
                                4) == 0)
        return judgeElf(bytes, own);
    if (readable && magic[0] == 'M' && magic[1] == 'Z') return judgePe(bytes, own);
    return refusal(ModuleVerdict::notAModule, {}, "not " + moduleKind(own));
}

ModuleJudgement judgeModule(const std::string& path, const ModuleArchitecture& own) {
    ModuleFile file(path);
    switch (file.status()) {
        case ModuleFile::Status::open:
            return judgeModuleBytes(file, own);
        case ModuleFile::Status::missing:
            return refusal(ModuleVerdict::missing, {}, "there is no file at " + path);
        case ModuleFile::Status::unreadable:
            return refusal(ModuleVerdict::unreadable, {},
                           "the file cannot be read: " + file.problem());
        case ModuleFile::Status::folder:
            return refusal(ModuleVerdict::notAModule, {}, "a folder, not " + moduleKind(own));
        case ModuleFile::Status::special:
            return refusal(ModuleVerdict::notAModule, {},
                           "not a regular file, so not " + moduleKind(own));
    }
    return refusal(ModuleVerdict::unreadable, {}, "the file cannot be read");
}

}  // namespace Vexa::DSP
