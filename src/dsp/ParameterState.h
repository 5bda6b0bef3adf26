// The state of a plug-in that keeps no chunk: its program and each
// parameter's value, in the layout docs/protocol.md gives, so that a client
// can keep it as it keeps a chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Vexa::DSP::ParameterState {

std::vector<uint8_t> encode(int32_t program, const std::vector<float>& values);
// False when the bytes are not a whole state of this kind (a chunk, say).
bool decode(const void* data, std::size_t size, int32_t& program, std::vector<float>& values);

}  // namespace Vexa::DSP::ParameterState
