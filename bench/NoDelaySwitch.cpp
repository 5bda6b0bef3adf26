// The benchmark build's server options: CORVEL_BENCH_NO_NODELAY (any
// non-empty value) keeps the library's default, to measure what tcp_nodelay
// saves. Linked ahead of the core library, so it replaces the shipped unit.
#include <cstdlib>

#include "websocket/ServerOptions.h"

bool serverNoDelay() {
    const char* value = std::getenv("CORVEL_BENCH_NO_NODELAY");
    return !(value && *value);
}
