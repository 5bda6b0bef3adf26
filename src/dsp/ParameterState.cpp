#include "dsp/ParameterState.h"

#include <cstring>

namespace Vexa::DSP::ParameterState {

namespace {

constexpr char magic[8] = {'C', 'V', 'P', 'A', 'R', 'A', 'M', '1'};
constexpr std::size_t headerBytes = sizeof magic + 8;

// Little-endian whatever the machine, as the layout says.
void putWord(std::vector<uint8_t>& out, uint32_t word) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(word >> (8 * i)));
}

uint32_t wordAt(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

}  // namespace

std::vector<uint8_t> encode(int32_t program, const std::vector<float>& values) {
    std::vector<uint8_t> out(magic, magic + sizeof magic);
    out.reserve(headerBytes + 4 * values.size());
    putWord(out, static_cast<uint32_t>(program));
    putWord(out, static_cast<uint32_t>(values.size()));
    for (const float value : values) {
        uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        putWord(out, bits);
    }
    return out;
}

bool decode(const void* data, std::size_t size, int32_t& program, std::vector<float>& values) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (!bytes || size < headerBytes || std::memcmp(bytes, magic, sizeof magic) != 0) return false;
    const uint32_t count = wordAt(bytes + 12);
    if ((size - headerBytes) / 4 != count || (size - headerBytes) % 4 != 0) return false;
    program = static_cast<int32_t>(wordAt(bytes + 8));
    values.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t bits = wordAt(bytes + headerBytes + 4 * i);
        std::memcpy(&values[i], &bits, sizeof bits);
    }
    return true;
}

}  // namespace Vexa::DSP::ParameterState
