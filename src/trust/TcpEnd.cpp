#include "trust/TcpEnd.h"

std::array<uint8_t, 16> mappedIpv4(const uint8_t bytes[4]) {
    std::array<uint8_t, 16> mapped{};
    mapped[10] = mapped[11] = 0xff;
    for (int i = 0; i < 4; ++i) mapped[12 + i] = bytes[i];
    return mapped;
}

std::optional<TcpEnd> tcpEndOf(std::string_view ipv4, int port) {
    if (port <= 0 || port > 65535) return std::nullopt;
    uint8_t bytes[4];
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (ipv4.empty() || ipv4.front() != '.') return std::nullopt;
            ipv4.remove_prefix(1);
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (digits < ipv4.size() && digits < 3 && ipv4[digits] >= '0' && ipv4[digits] <= '9')
            value = value * 10 + static_cast<unsigned>(ipv4[digits++] - '0');
        if (digits == 0 || value > 255) return std::nullopt;
        ipv4.remove_prefix(digits);
        bytes[part] = static_cast<uint8_t>(value);
    }
    if (!ipv4.empty()) return std::nullopt;
    TcpEnd end;
    end.address = mappedIpv4(bytes);
    end.port = static_cast<uint16_t>(port);
    return end;
}
