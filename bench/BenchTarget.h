// One server that the client measures, as named on the command line:
//   name=<label>,kind=tcp|echo|host|host2,port=<port>[,plugin=<path>][,counters=<file>][,blocks=<n>]
//     [,rounds=<n>]
//   name=<label>,kind=handoff,file=<file>[,blocks=<n>][,rounds=<n>]
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct BenchTarget {
    std::string name;
    bool isHost = false;          // host: loads the plug-in and sets the block size
    bool speaksVersion2 = false;  // host2: the host, over protocol 2
    bool isRawTcp = false;        // tcp: plain bytes back and forth, no WebSocket at all
    bool isHandoff = false;       // handoff: no socket; the floor times hand-offs itself
    uint16_t port = 0;
    std::string plugin;        // a host's own plug-in; empty: the run's --plugin
    std::string handoffPath;   // the hand-off floor's memory file
    std::string countersPath;  // allocation counters of a benchmark build
    int blocksPerRound = 0;    // 0: the run's default; fewer for slow servers
    int rounds = 0;            // 0: every round; else only the first ones
};

std::optional<BenchTarget> parseTarget(const std::string& text);
