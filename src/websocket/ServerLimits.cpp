#include "websocket/ServerLimits.h"

namespace {

// Sockets that say too little of a request (and on Windows, sockets that say
// nothing at all: SilentSockets.h) hold a worker each until the request
// timeout drops them.
constexpr std::size_t silentSockets = 128;

}  // namespace

std::vector<std::string> serverLimitOptions(std::size_t sessions) {
    return {
        // A worker serves one connection for its whole life: every session,
        // plus room for silent sockets, so that they never keep a real
        // client waiting for a worker.
        "num_threads",
        std::to_string(sessions + silentSockets),
        // Connections the kernel holds: those waiting for a worker, and on
        // Linux also those held back until they speak. Beyond it the kernel
        // hands connections on at once (SYN cookies), silent or not.
        "listen_backlog",
        "1024",
        "connection_queue",
        "64",
        // A handshake (or page request) that does not arrive in full within
        // this time is dropped, which frees its worker.
        "request_timeout_ms",
        "3000",
        "enable_keep_alive",
        "no",
    };
}
