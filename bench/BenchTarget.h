// One server that the client measures, as named on the command line:
//   name=<label>,kind=tcp|echo|host,port=<port>[,plugin=<path>][,counters=<file>][,blocks=<n>][,rounds=<n>]
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct BenchTarget {
    std::string name;
    bool isHost = false;          // host: loads the plug-in and sets the block size
    bool isRawTcp = false;        // tcp: plain bytes back and forth, no WebSocket at all
    uint16_t port = 0;
    std::string plugin;           // a host's own plug-in; empty: the run's --plugin
    std::string countersPath;     // allocation counters of a benchmark build
    int blocksPerRound = 0;       // 0: the run's default; fewer for slow servers
    int rounds = 0;               // 0: every round; else only the first ones
};

std::optional<BenchTarget> parseTarget(const std::string& text);
