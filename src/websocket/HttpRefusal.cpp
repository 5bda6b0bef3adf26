#include "websocket/HttpRefusal.h"

#include <string>

#include <civetweb.h>

namespace {

const char* reasonPhrase(int status) {
    switch (status) {
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

}  // namespace

void writeHttpRefusal(const mg_connection* conn, int status, std::string_view body) {
    // The library hands the handshake callback a const connection, yet
    // writing to it is what that callback is for.
    auto* writable = const_cast<mg_connection*>(conn);
    mg_printf(writable,
              "HTTP/1.1 %d %s\r\n"
              "Content-Type: text/plain; charset=utf-8\r\n"
              "Content-Length: %s\r\n"
              "Cache-Control: no-store\r\n"
              "Connection: close\r\n\r\n",
              // As text: the Windows C runtime's printf knows no %zu.
              status, reasonPhrase(status), std::to_string(body.size()).c_str());
    mg_write(writable, body.data(), body.size());
}
