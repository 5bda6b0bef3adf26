/* The server library's source with one accessor added: the socket of a
   connection, which the library keeps to itself. Compiled in place of
   civetweb.c for the Windows build (cmake/WindowsCivetWeb.cmake); the
   library's text stays as Debian ships it. */
#include "civetweb.c"

SOCKET corvelLibrarySocket(const struct mg_connection *conn)
{
	return conn ? conn->client.sock : INVALID_SOCKET;
}
