// One end of a TCP connection, in the form both the Linux socket tables and
// the Windows ones can be compared with.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

struct TcpEnd {
    // In network byte order, an IPv4 address as IPv4-mapped IPv6
    // (::ffff:a.b.c.d): a dual-stack client socket lists its end that way.
    std::array<uint8_t, 16> address{};
    uint16_t port = 0;

    bool operator==(const TcpEnd& other) const {
        return address == other.address && port == other.port;
    }
};

// From dotted IPv4 text ("127.0.0.1", as the server library reports a
// client) and a port; nothing when either is not one.
std::optional<TcpEnd> tcpEndOf(std::string_view ipv4, int port);

// The IPv4-mapped form of four address bytes in network order.
std::array<uint8_t, 16> mappedIpv4(const uint8_t bytes[4]);
