#include "websocket/SilentSockets.h"

// Windows has no way to hold a connection back until it speaks: silent
// sockets take workers until the request timeout (ServerLimits.cpp).
void SilentSockets::start() {}

void SilentSockets::stop() {}

void SilentSockets::connectionTaken() {}

void SilentSockets::sweep() {}
