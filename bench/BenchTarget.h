// One server that the client measures, as named on the command line:
//   name=<label>,kind=tcp|echo|host|host2,port=<port>[,counters=<file>][,blocks=<n>][,rounds=<n>]
//       [,plugin=<path>][,expect=same|half|levels|any][,records=<n>][,outputs=<n>]
//       [,base=<label>]
//   name=<label>,kind=handoff,file=<file>[,blocks=<n>][,rounds=<n>]
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "BlockPattern.h"

struct BenchTarget {
    std::string name;
    bool isHost = false;          // host: loads the plug-in and sets the block size
    bool speaksVersion2 = false;  // host2: the host, over protocol 2
    bool isRawTcp = false;        // tcp: plain bytes back and forth, no WebSocket at all
    bool isHandoff = false;       // handoff: no socket; the floor times hand-offs itself
    uint16_t port = 0;
    std::string handoffPath;                 // the hand-off floor's memory file
    std::string countersPath;                // allocation counters of a benchmark build
    int blocksPerRound = 0;                  // 0: the run's default; fewer for slow servers
    int rounds = 0;                          // 0: every round; else only the first ones
    std::string plugin;                      // a host's own plug-in; empty: the run's
    std::optional<Expectation> expectation;  // a host's replies; none: the run's
    int parameterRecords = 0;                // host2: parameter records per block
    uint32_t outputs = 2;                    // host2: the channels its replies carry
    std::string base;  // the target whose median and p99 this one's are compared to
};

std::optional<BenchTarget> parseTarget(const std::string& text);
