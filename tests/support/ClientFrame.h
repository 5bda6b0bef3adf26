// One WebSocket frame as a client sends it: the first byte as given (FIN,
// reserved bits, opcode), the shortest length field, the mask and the masked
// payload. Header-only and portable: the test clients, the Windows checker
// and the benchmark share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline std::vector<uint8_t> clientFrame(uint8_t firstByte, const void* payload, std::size_t length,
                                        const uint8_t (&mask)[4]) {
    std::vector<uint8_t> frame;
    frame.reserve(length + 14);
    frame.push_back(firstByte);
    const uint64_t size = length;
    if (size < 126) {
        frame.push_back(static_cast<uint8_t>(0x80 | size));
    } else if (size < 65536) {
        frame.push_back(0x80 | 126);
        frame.push_back(static_cast<uint8_t>(size >> 8));
        frame.push_back(static_cast<uint8_t>(size & 0xFF));
    } else {
        frame.push_back(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.push_back(static_cast<uint8_t>((size >> shift) & 0xFF));
    }
    frame.insert(frame.end(), mask, mask + 4);
    const auto* bytes = static_cast<const uint8_t*>(payload);
    for (std::size_t i = 0; i < length; ++i) frame.push_back(bytes[i] ^ mask[i & 3]);
    return frame;
}
