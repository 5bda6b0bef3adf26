// The Host header of a handshake must name this computer, so that a page
// whose domain was re-pointed at 127.0.0.1 cannot pass for a local one.
#pragma once

#include <cstdint>
#include <string_view>

// 127.0.0.1, localhost or [::1], each with or without ":port".
bool isLoopbackHost(std::string_view host, uint16_t port);
