// Refusing a request from inside the library's handshake callback.
#pragma once

#include <string_view>

struct mg_connection;

// Writes a complete response with a plain-text body and asks the library to
// close the connection. The callback then returns false: the library writes
// nothing more for a refused handshake.
void writeHttpRefusal(const mg_connection* conn, int status, std::string_view body);
