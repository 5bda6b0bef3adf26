// The one argument of the benchmark's servers: the loopback port to listen on.
#pragma once

#include <cstdio>
#include <cstdlib>

// The port, or 0 after printing the usage when the argument is missing or wrong.
inline long portArgument(int argc, char** argv) {
    const long port = argc == 2 ? std::strtol(argv[1], nullptr, 10) : 0;
    if (port >= 1 && port <= 65535) return port;
    std::fprintf(stderr, "usage: %s <port>\n", argv[0]);
    return 0;
}
