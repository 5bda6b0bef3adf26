// The channel's hook into the trust layer at the WebSocket handshake.
#pragma once

struct mg_connection;
class OriginGate;

// True when the handshake may go on: the client is a process of the
// program's own user, and the origin gate lets it through. Otherwise the
// refusal has been written to the client and logged, and the handshake
// callback must return false.
bool admitHandshake(OriginGate& gate, const mg_connection* conn);
