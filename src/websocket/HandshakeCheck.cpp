#include "websocket/HandshakeCheck.h"

#include <civetweb.h>

#include <cstdio>
#include <optional>
#include <string_view>

#include "websocket/HttpRefusal.h"
#include "trust/OriginGate.h"

namespace {

std::optional<std::string_view> header(const mg_connection* conn, const char* name) {
    const char* value = mg_get_header(conn, name);
    if (!value) return std::nullopt;
    return std::string_view(value);
}

}  // namespace

bool admitHandshake(OriginGate& gate, const mg_connection* conn) {
    const auto refusal = gate.check(header(conn, "Host"), header(conn, "Origin"));
    if (!refusal) return true;
    writeHttpRefusal(conn, refusal->httpStatus, refusal->body);
    std::fputs(refusal->logLine.c_str(), stdout);
    std::fflush(stdout);
    return false;
}
