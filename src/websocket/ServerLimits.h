// The library's worker threads and timeouts, sized for a companion that
// serves one machine.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Name/value pairs for the server's option list, for up to `sessions`
// WebSocket clients at once.
std::vector<std::string> serverLimitOptions(std::size_t sessions);
