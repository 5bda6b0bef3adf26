// Finding the sockets the server library holds among this process's
// descriptors, by their addresses: the library does not hand them out.
#pragma once

#include <cstdint>

// The listening socket on 127.0.0.1:port; -1 when there is none.
int findListeningSocket(uint16_t port);

// The connection on 127.0.0.1:port whose client is remoteAddress:remotePort;
// -1 when there is none.
int findConnectedSocket(uint16_t port, const char* remoteAddress, uint16_t remotePort);

// Shuts down every connection on 127.0.0.1:port that has never received a
// byte, so the worker waiting on it for a request closes it at once.
void endSilentConnections(uint16_t port);
