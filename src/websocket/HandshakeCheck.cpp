#include "websocket/HandshakeCheck.h"

#include <civetweb.h>

#include <cstdio>
#include <optional>
#include <string_view>

#include "trust/OriginGate.h"
#include "trust/UserGate.h"
#include "websocket/HttpRefusal.h"

namespace {

std::optional<std::string_view> header(const mg_connection* conn, const char* name) {
    const char* value = mg_get_header(conn, name);
    if (!value) return std::nullopt;
    return std::string_view(value);
}

}  // namespace

bool admitHandshake(OriginGate& gate, const mg_connection* conn) {
    // The user first: another user's client must not even raise a dialog.
    // The server listens on 127.0.0.1 only (WebSocketServer::listen).
    const mg_request_info* request = mg_get_request_info(conn);
    auto refusal = refuseOtherUser(request->remote_addr, request->remote_port, "127.0.0.1",
                                   request->server_port);
    if (!refusal) refusal = gate.check(header(conn, "Host"), header(conn, "Origin"));
    if (!refusal) return true;
    writeHttpRefusal(conn, refusal->httpStatus, refusal->body);
    std::fputs(refusal->logLine.c_str(), stdout);
    std::fflush(stdout);
    return false;
}
