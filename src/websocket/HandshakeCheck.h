// The channel's hook into the origin gate at the WebSocket handshake.
#pragma once

struct mg_connection;
class OriginGate;

// True when the handshake may go on. Otherwise the refusal has been written
// to the client and logged, and the handshake callback must return false.
bool admitHandshake(OriginGate& gate, const mg_connection* conn);
